// The host's decode loop, as tdsdecode runs it over one input with the view the options
// name (packet, message or the request log in options.format), the plug-in linked in.
#pragma once

#include "input/frame_source.h"
#include "options.h"

void RunHostPipeline(FrameSource& source, const Options& options);
