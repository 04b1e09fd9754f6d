#pragma once
// The message boxes live in the window library shared by every program; the client's windows
// keep including them from here.
#include "finestre/messaggi.h"
