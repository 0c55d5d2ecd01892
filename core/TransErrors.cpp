// The error report at the edge of a run and the error trace's housekeeping.

#include <string>

#include "core/Host.h"
#include "core/Trans.h"

namespace {

// Points for how much a trace entry can show: an open source window, a
// start, an end and a help topic.
int EntryScore(Host& host, const TPosition& entry) {
  int score = 0;
  if (!entry.SourceName.empty() && host.findSource(entry.SourceName) != nullptr) ++score;
  if (entry.StartPos != -1) ++score;
  if (entry.EndPos != -1) ++score;
  if (!entry.Topic.empty()) ++score;
  return score;
}

// The first entry with the highest score; the current position when the
// trace is empty (an error raised without a trace entry is still shown).
TPosition ChooseShownEntry(TInterpreter& in) {
  const std::vector<TPosition>& trace = in.S.ErrorTrace;
  if (trace.empty()) return in.S.CurrentPosition;
  size_t best = 0;
  int bestScore = -1;
  for (size_t i = 0; i < trace.size(); ++i) {
    const int score = EntryScore(in.host(), trace[i]);
    if (score > bestScore) {
      best = i;
      bestScore = score;
    }
  }
  return trace[best];
}

// "message (source:line)".
std::u16string ReportLine(const std::u16string& message, const TPosition& entry) {
  std::u16string line = message;
  line += u" (";
  line += entry.SourceName.str();
  line += u':';
  line += Utf8ToUtf16(std::to_string(entry.Line));
  line += u')';
  return line;
}

class TraceClearer {
public:
  explicit TraceClearer(TInterpreter& in) : in_(in) {}
  ~TraceClearer() { ClearErrorHistory(in_); }
  TraceClearer(const TraceClearer&) = delete;
  TraceClearer& operator=(const TraceClearer&) = delete;

private:
  TInterpreter& in_;
};

}  // namespace

void ShowRunError(TInterpreter& in, const std::u16string& message) {
  if (message.empty()) {
    // Nothing to show, but its entries must not reach the next report.
    ClearErrorHistory(in);
    return;
  }
  TStructure& s = in.S;
  if (in.ErrorHistoryWriting) {
    // Raised while the history is written from the previous report's dialog:
    // that report still owns the trace.
    PrintToOutput(s, u"suspended:" + message);
    return;
  }

  const TraceClearer clearer(in);
  try {
    Host& host = in.host();
    // A report from a run nested in a running program must not mark the
    // interrupted program as ended.
    if (in.RunNesting <= 1) SetRunState(in, rsEnded);
    const TPosition entry = ChooseShownEntry(in);
    PrintToOutput(s, ReportLine(message, entry));

    if (!entry.SourceName.empty()) {
      if (SourceView* view = host.findSource(entry.SourceName))
        view->showErrorRange(entry.StartPos, entry.EndPos, entry.SourceText);
    }
    const std::u16string topic = entry.Topic.empty() ? std::u16string(u"error-history") : entry.Topic;
    const int answer = host.showMessageDialog(message, entry.SourceName, topic, dfOk | dfHelp);
    // The dialog pumps: the window may have closed meanwhile.
    if (!entry.SourceName.empty()) {
      if (SourceView* view = host.findSource(entry.SourceName)) view->clearErrorRange();
    }
    if (answer == drHelp) host.showHelp(topic.starts_with(u' ') ? topic.substr(1) : topic);

    if (s.Log.LogFileOpen) WriteLog(s, lcError, u"Error: " + message);
  } catch (const std::exception&) {
    // The report never raises; the trace is still cleared.
  }
}

void SetTraceFrameOwner(TPosition& entry, TAtom* owner) {
  if (entry.FrameOwner == owner) return;
  TAtom::IncRef(owner);
  TAtom::DecRef(entry.FrameOwner);
  entry.FrameOwner = owner;
}

void TruncateErrorTrace(TInterpreter& in, size_t length) {
  std::vector<TPosition>& trace = in.S.ErrorTrace;
  while (trace.size() > length) {
    TAtom::DecRef(trace.back().Statement);
    TAtom::DecRef(trace.back().FrameOwner);
    trace.pop_back();
  }
}

void ClearErrorHistory(TInterpreter& in) { TruncateErrorTrace(in, 0); }
