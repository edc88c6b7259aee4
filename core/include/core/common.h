// Everything of the player core's library that plug-ins call, in one include.
#pragma once

#include "core/array.h"
#include "core/format.h"
#include "core/node.h"
#include "core/overlay.h"
#include "core/stream.h"
#include "core/sys.h"
#include "core/text.h"
#include "core/url.h"
