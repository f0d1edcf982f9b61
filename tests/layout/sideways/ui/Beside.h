#pragma once

// Two folders of one floor, one including the other: the check must refuse it.
#include "files/FileFacts.h"
