#include "graphics/PlaneEvents.h"

#include "core/Trans.h"
#include "graphics/Graphics.h"

std::u16string EventCallText(const PlaneEvent& event, PlaneSize size) {
  const long double x = event.X;
  const long double y = event.Y;
  const long double width = size.Width;
  const long double height = size.Height;
  return FormatMessage(u"(%s (%.5f) (%.5f) (%.5f) (%.5f) (%d))",
                       {event.Keyword, x - width / 2, height / 2 - y, x, y,
                        static_cast<long long>(event.Shift & 0x7F)});
}

PlaneEvent PlaneEvents::Make(int keywordIndex, uint32_t shift, int32_t x, int32_t y) const {
  PlaneEvent event;
  event.Keyword = g_.S.Keyword(keywordIndex);
  event.Shift = shift;
  event.X = x;
  event.Y = y;
  return event;
}

void PlaneEvents::Remember(uint32_t shift, int32_t x, int32_t y) {
  lastShift_ = shift;
  lastX_ = x;
  lastY_ = y;
}

void PlaneEvents::MouseMove(uint32_t shift, int32_t x, int32_t y) {
  if (!environmentReady_) return;
  if (lastMove_ && lastMove_->first == x && lastMove_->second == y) return;
  lastMove_ = {x, y};
  Remember(shift, x, y);
  Dispatch(Make(kwOnmousemove, shift, x, y));
}

void PlaneEvents::MouseDown(uint32_t shift, int32_t x, int32_t y) {
  if (!environmentReady_) return;
  Remember(shift, x, y);
  Dispatch(Make(kwOnmousedown, shift, x, y));
}

void PlaneEvents::MouseUp(uint32_t shift, int32_t x, int32_t y) {
  if (!environmentReady_) return;
  Remember(shift, x, y);
  Dispatch(Make(kwOnmouseup, shift, x, y));
}

void PlaneEvents::Click() {
  if (!environmentReady_) return;
  Dispatch(Make(kwOnmouseclick, lastShift_, lastX_, lastY_));
}

void PlaneEvents::Dispatch(const PlaneEvent& event) {
  TStructure& s = g_.S;
  // While a list is open the handler's drawing would end up in the list.
  if (s.EventsSuspended || g_.isCompilingList()) {
    std::optional<PlaneEvent>& slot = event.Keyword == s.Keyword(kwOnmousemove) ? g_.QueuedMove : g_.QueuedEvent;
    if (!slot) slot = event;
    return;
  }
  if (eventDepth_ >= 1 || !environmentReady_ || g_.In.RunState == rsPaused) return;
  Run(event);
}

void PlaneEvents::Run(const PlaneEvent& event) {
  TInterpreter& in = g_.In;
  // Restored on every exit: the depth, the interrupted statement, the
  // pumping rule and (through the main window) the run state; the slots
  // end empty.
  struct EventScope {
    PlaneEvents& Events;
    TInterpreter& In;
    uint8_t RunState;
    bool InPlaneEvent;
    ~EventScope() {
      In.InPlaneEvent = InPlaneEvent;
      --Events.eventDepth_;
      SetRunState(In, RunState);
      Events.g_.QueuedEvent.reset();
      Events.g_.QueuedMove.reset();
    }
  };
  const CodePointerKeeper keeper(in);
  ++eventDepth_;
  const EventScope scope{*this, in, in.RunState, in.InPlaneEvent};
  in.InPlaneEvent = true;
  const TAtom* root = g_.S.Root;
  if (!IsAtom(root) || TAtom::FindChildByName(g_.S, *root, event.Keyword) == nullptr) return;
  const PlaneSize size = g_.plane() != nullptr ? g_.plane()->clientSize() : PlaneSize{};
  try {
    static_cast<void>(RunText(in, EventCallText(event, size), u""));
  } catch (const LanguageError& error) {
    ShowRunError(in, error.Message());
  }
}
