// Fixture for the tests that run the port on a pseudo-terminal: Com1 points
// at the pty's slave, and every test ends with the slot closed and the port
// map back at its defaults.
#pragma once

#include <gtest/gtest.h>

#include "pty_pair.h"
#include "serial_port.h"

class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    SetPortPath(1, pty_.Path());
  }
  void TearDown() override {
    ClosePort();
    ResetPortMap();
  }

  PtyPair pty_;
};
