#include "LinkLog.h"

Q_LOGGING_CATEGORY(lcLinkFrames, "tk.link.frames", QtWarningMsg)
