#pragma once
// Everything of the platform layer in one include.
#include "platform/Com.h"
#include "platform/Gdi.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/Storage.h"
#include "platform/Types.h"
