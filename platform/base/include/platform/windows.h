// The platform's base services in one include.
#pragma once

#include "platform/codepage.h"
#include "platform/crt.h"
#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/lasterror.h"
#include "platform/module.h"
#include "platform/sync.h"
#include "platform/wintypes.h"
