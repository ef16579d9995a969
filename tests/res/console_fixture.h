// One main-window template shared by the tests of a suite.
#pragma once

#include "template_loader.h"

#include <gtest/gtest.h>

#include <QDialog>

#include <memory>

class ConsoleTemplate : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    static QDialog& Dialog() { return *dialog_; }
    // The control with this id; fails the test when there is none.
    static QWidget& ById(int id);

private:
    static std::unique_ptr<QDialog> dialog_;
};
