#pragma once

// Hex dumps of the frames that go out and come in. Off unless asked for with
// QT_LOGGING_RULES="tk.link.frames.debug=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLinkFrames)
