#pragma once
// The command window: the source window made with the command flag, titled
// from "CAPTION.COMMAND"; Enter runs the caret line through its collector.

#include "environment/SrcWin.h"

class TCommandWindow : public TSource {
  Q_OBJECT
public:
  explicit TCommandWindow(TMainForm& main);
};
