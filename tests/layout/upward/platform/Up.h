#pragma once

// The platform reaching up for what knows about files: the check must refuse it.
#include "files/Loudness.h"
