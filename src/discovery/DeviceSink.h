#pragma once

#include <cstdint>
#include <functional>

#include "discovery/DeviceInfo.h"

// Where a search worker hands every device it accepts: the record, valid only during the call,
// and the port of the worker. Called on the worker's receive thread, one device at a time per
// worker; a sink shared by several workers serialises them itself (the coordinator's hand-off
// does, with its mutex).
using DeviceSink = std::function<void(const DeviceInfo& device, std::int32_t port)>;
