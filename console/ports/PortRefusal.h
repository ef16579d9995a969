// The port box: "没有发现此串口或此串口被占用" with, as its informative
// text, the device and the one cause of the refusal with its cure.
#pragma once

#include <QString>

#include "open_failure.h"

// The informative text for `failure` ("设备 /dev/ttyUSB0 不存在：请检查连接。").
QString PortRefusalText(const OpenFailure& failure);

// Shows the port box for `failure` (an application box, from any thread).
void ShowPortRefusal(const OpenFailure& failure);

// The same for a port list entry whose adapter was unplugged: nothing is
// opened in its name, and the trace says so.
void ShowUnplugged(const std::string& device);
