#pragma once
// What the media source computes besides what libavformat reads.

#include "timestamp.hpp" // ticksToMilliseconds
