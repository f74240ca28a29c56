// The whole run-time layer of the monitor, for its routines.
#pragma once

#include "monitor/runtime/convert.h"
#include "monitor/runtime/dll.h"
#include "monitor/runtime/error.h"
#include "monitor/runtime/files.h"
#include "monitor/runtime/messagebox.h"
#include "monitor/runtime/output.h"
#include "monitor/runtime/process.h"
#include "monitor/runtime/startup.h"
#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"
