// The error report at the edge of a run, the error history that the help
// pages show, the source excerpt around an error, and the error trace's
// housekeeping.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "core/Expr.h"
#include "core/Host.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/TransOps.h"

namespace {

// An error range longer than this many lines is shown as its first and last
// three lines.
constexpr size_t kMaxExcerptLines = 7;
constexpr size_t kExcerptEdgeLines = 3;

std::u16string Decimal(int64_t value) { return Utf8ToUtf16(std::to_string(value)); }

// A topic that begins with a blank marks the entry the history shows first.
bool IsMarkedTopic(const std::u16string& topic) { return !topic.empty() && topic.front() == u' '; }

std::u16string WithoutMarker(const std::u16string& topic) { return IsMarkedTopic(topic) ? topic.substr(1) : topic; }

// The 0-based start offset of a position; -1 when it has none.
int32_t ZeroBasedStart(const TPosition& position) { return position.StartPos > 0 ? position.StartPos - 1 : -1; }

bool SourceWindowOpen(Host& host, const TPosition& entry) {
  return !entry.SourceName.empty() && host.findSource(entry.SourceName) != nullptr;
}

// Entries taken out of the interpreter's trace together with their pins. A
// report and the history writer work on their own list, so runs nested in
// them (handlers while the modal dialog is open, the inspector) neither add
// to it nor clear it.
class OwnedTrace {
public:
  explicit OwnedTrace(TStructure& s) : Entries(std::move(s.ErrorTrace)) { s.ErrorTrace.clear(); }
  OwnedTrace(OwnedTrace&& other) noexcept : Entries(std::move(other.Entries)) { other.Entries.clear(); }
  OwnedTrace(const OwnedTrace&) = delete;
  OwnedTrace& operator=(const OwnedTrace&) = delete;
  OwnedTrace& operator=(OwnedTrace&&) = delete;
  ~OwnedTrace() {
    for (const TPosition& entry : Entries) {
      TAtom::DecRef(entry.Statement);
      TAtom::DecRef(entry.FrameOwner);
    }
  }

  std::vector<TPosition> Entries;
};

// Empties the interpreter's trace when a report ends, however it ends.
class TraceClearer {
public:
  explicit TraceClearer(TInterpreter& in) : in_(in) {}
  ~TraceClearer() { ClearErrorHistory(in_); }
  TraceClearer(const TraceClearer&) = delete;
  TraceClearer& operator=(const TraceClearer&) = delete;

private:
  TInterpreter& in_;
};

void ReportFileError(TStructure& s, const FileError& error) {
  std::u16string line = u">>>";
  line += Utf8ToUtf16(error.what());
  PrintToOutput(s, line);
}

// --- the report ---------------------------------------------------------------------

// Points for how much a trace entry can show: an open source window, a
// start, an end and a help topic.
int EntryScore(Host& host, const TPosition& entry) {
  int score = 0;
  if (SourceWindowOpen(host, entry)) ++score;
  if (entry.StartPos != -1) ++score;
  if (entry.EndPos != -1) ++score;
  if (!entry.Topic.empty()) ++score;
  return score;
}

// The first entry with the highest score.
const TPosition& MostInformativeEntry(Host& host, const std::vector<TPosition>& trace) {
  size_t best = 0;
  int bestScore = -1;
  for (size_t i = 0; i < trace.size(); ++i) {
    const int score = EntryScore(host, trace[i]);
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
  line += Decimal(entry.Line);
  line += u')';
  return line;
}

std::u16string WriteHistoryOf(TInterpreter& in, OwnedTrace trace, bool full);

// Steps of the report that may fail; ShowRunError ignores their failures.
void ReportRunError(TInterpreter& in, const std::u16string& message, OwnedTrace& trace) {
  TStructure& s = in.S;
  Host& host = in.host();
  // A report from a run nested in a running program must not mark the
  // interrupted program as ended.
  if (in.RunNesting <= 1) SetRunState(in, rsEnded);

  // An error raised outside RaiseError leaves no entry: it is shown at the
  // current position, whose topic is stale.
  const bool traced = !trace.Entries.empty();
  const TPosition entry = traced ? MostInformativeEntry(host, trace.Entries) : s.CurrentPosition;
  const bool located = traced || (!entry.SourceName.empty() && entry.Line != -1);
  PrintToOutput(s, located ? ReportLine(message, entry) : message);

  if (!entry.SourceName.empty()) {
    if (SourceView* view = host.findSource(entry.SourceName))
      view->showErrorRange(entry.StartPos, entry.EndPos, entry.SourceText);
  }
  const std::u16string topic = traced && !entry.Topic.empty() ? entry.Topic : std::u16string(u"error-history");
  const int answer = host.showMessageDialog(message, entry.SourceName, topic, dfOk | dfHelp);
  // The dialog pumps: the window may have closed meanwhile.
  if (!entry.SourceName.empty()) {
    if (SourceView* view = host.findSource(entry.SourceName)) view->clearErrorRange();
  }
  if (answer == drHelp) {
    // The report owns its trace, so Help writes the history here, after the
    // modal dialog has closed, and then shows the page of its topic.
    const std::u16string helpTopic = WriteHistoryOf(in, std::move(trace), false);
    host.showHelp(helpTopic.empty() ? std::u16string(u"error-history") : helpTopic);
  }

  if (s.Log.LogFileOpen) {
    std::u16string line = u"Error: ";
    line += message;
    WriteLog(s, lcError, line);
  }
}

// --- the source excerpt ---------------------------------------------------------------

// Offsets at which the lines of a CR LF text start; the first is 0.
std::vector<size_t> LineStarts(const std::u16string& text) {
  std::vector<size_t> starts{0};
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == u'\n') starts.push_back(i + 1);
  return starts;
}

size_t LineOf(const std::vector<size_t>& starts, size_t offset) {
  return static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin()) - 1;
}

// The last line that holds text: a final line end opens no line of its own.
size_t LastTextLine(const std::vector<size_t>& starts, size_t textSize) {
  return starts.size() > 1 && starts.back() == textSize ? starts.size() - 2 : starts.size() - 1;
}

void DropFinalLineEnd(std::u16string& text) {
  if (text.ends_with(u"\r\n"))
    text.resize(text.size() - 2);
  else if (text.ends_with(u'\n') || text.ends_with(u'\r'))
    text.pop_back();
}

// --- the history records ----------------------------------------------------------------

// The structure views of the entry's statement, as the statement's frame
// resolved its names. A dump that raises gives no views, and the entries its
// raise left are dropped.
TDumpViews StatementViews(TInterpreter& in, const TPosition& entry) {
  if (!IsAtom(entry.Statement)) return {};
  const size_t traceLength = in.S.ErrorTrace.size();
  try {
    return ExprStructureDump(in, entry.Statement, entry.FrameOwner);
  } catch (const LanguageError&) {
    TruncateErrorTrace(in, traceLength);
    return {};
  }
}

void AppendAttribute(const TStructure& s, std::u16string& tag, std::u16string_view name, std::u16string_view value) {
  tag += u' ';
  tag += name;
  tag += u"=\"";
  tag += EscapeXml(s, value, false);
  tag += u'"';
}

// "%d", or "%d~%d" when the range spans lines (1-based); the position's own
// line when it has no range.
std::u16string LineText(const TPosition& position, const TErrorContext& excerpt) {
  if (excerpt.FirstLine < 0) return Decimal(position.Line);
  std::u16string text = Decimal(excerpt.FirstLine + 1);
  if (excerpt.LastLine != excerpt.FirstLine) {
    text += u'~';
    text += Decimal(excerpt.LastLine + 1);
  }
  return text;
}

std::u16string WithoutLeadingFolder(std::u16string name, const std::u16string& folder) {
  if (!folder.empty() && name.size() >= folder.size() &&
      UpperCase(std::u16string_view(name).substr(0, folder.size())) == UpperCase(folder))
    name.erase(0, folder.size());
  return name;
}

// The source name relative to the program folder, else to the root folder.
std::u16string RecordFileName(const TStructure& s, const std::u16string& sourceName) {
  return WithoutLeadingFolder(WithoutLeadingFolder(sourceName, s.ProgramFolder), s.RootFolder);
}

// The first statement of a procedure value: the cell after its leading
// lists (inputs, locals).
const TAtom* FirstStatementOf(const TAtom* value) {
  const TAtom* cell = value;
  while (IsAtom(cell) && cell->Kind == akList && TAtom::IsList(cell->Left)) cell = cell->Right;
  return cell;
}

// varfullname, varname and where the owner's definition starts.
void AppendOwnerAttributes(const TStructure& s, std::u16string& tag, const TAtom& owner) {
  AppendAttribute(s, tag, u"varfullname", TAtom::FullName(&owner));
  AppendAttribute(s, tag, u"varname", owner.Text);
  const TPosition& definition = TAtom::PositionOf(FirstStatementOf(owner.Left));
  if (definition.StartPos > 0 && !definition.SourceName.empty()) {
    AppendAttribute(s, tag, u"deffilename", definition.SourceName.str());
    AppendAttribute(s, tag, u"defpos", Decimal(ZeroBasedStart(definition)));
  } else {
    AppendAttribute(s, tag, u"nodeffilename", u"");
  }
}

// One element of the inspector's notes, read from the variable of the
// keyword; empty when it has no value.
std::u16string InspectorNote(TStructure& s, int keyword, std::u16string_view element) {
  const TAtom* variable = s.FindName(s.Keyword(keyword));
  if (variable == nullptr || !IsAtom(variable->Left)) return {};
  const std::u16string value = TAtom::ToText(s, variable->Left);
  if (value.empty()) return {};
  std::u16string note = u"<";
  note += element;
  note += u'>';
  note += value;
  note += u"</";
  note += element;
  note += u"> ";
  return note;
}

// The program's inspector explains the statement from its list notation;
// its notes go into the record. Nothing without an inspector or when its run
// fails. Its errors only print (ErrorHistoryWriting is set), and the trace
// entries they leave are dropped so that they never become records.
std::u16string InspectorNotes(TInterpreter& in, const std::u16string& listNotation) {
  TStructure& s = in.S;
  if (s.FindName(s.Keyword(kwOninspector)) == nullptr) return {};
  std::u16string command = s.Keyword(kwOninspectorExplain);
  command += u" [ ";
  command += listNotation;
  command += u" ]";
  const size_t traceLength = s.ErrorTrace.size();
  const int result = RunText(in, command, u"");
  TruncateErrorTrace(in, traceLength);
  if (result != rrOk) return {};
  return InspectorNote(s, kwOninspector1, u"natlang-full") + InspectorNote(s, kwOninspector2, u"natlang");
}

// The before, error and after texts of a record, XML-escaped.
struct RecordSource {
  std::u16string Before, Error, After;
};

RecordSource RecordSourceOf(TStructure& s, const TPosition& entry, const TErrorContext& excerpt) {
  RecordSource source;
  if (entry.StartPos == kGeneratedPos) {
    // Generated code has no source text: its owner names it.
    source.Before = u" ";
    source.Error = IsAtom(entry.FrameOwner) ? TAtom::FullName(entry.FrameOwner) : std::u16string(u"boza");
  } else {
    source = {excerpt.Before, excerpt.Error, excerpt.After};
    if (source.Before.empty() && source.Error.empty() && source.After.empty() && IsAtom(entry.Statement))
      source = {u" ", TAtom::ToText(s, entry.Statement), u" "};
  }
  return {EscapeXml(s, source.Before, false), EscapeXml(s, source.Error, false), EscapeXml(s, source.After, false)};
}

std::u16string BuildRecord(TInterpreter& in, const TPosition& entry, int subitem, bool shown) {
  TStructure& s = in.S;
  const TDumpViews views = StatementViews(in, entry);
  const std::u16string notes = InspectorNotes(in, views.Notation);

  const bool named = !entry.SourceName.empty();
  const TErrorContext excerpt = ExtractErrorContext(entry, !named);
  std::u16string record = u"<inerror-history";
  if (named) {
    AppendAttribute(s, record, u"filename", RecordFileName(s, entry.SourceName));
    AppendAttribute(s, record, u"fullfilename", entry.SourceName.str());
  } else {
    AppendAttribute(s, record, u"nofilename", u"");
  }
  AppendAttribute(s, record, u"line", LineText(entry, excerpt));
  if (IsAtom(entry.FrameOwner)) AppendOwnerAttributes(s, record, *entry.FrameOwner);
  AppendAttribute(s, record, u"pos", Decimal(ZeroBasedStart(entry)));
  AppendAttribute(s, record, u"subitem", Decimal(subitem));
  if (shown) {
    AppendAttribute(s, record, u"showhistory", u"1");
    AppendAttribute(s, record, u"lastitem", u"1");
  }

  const RecordSource source = RecordSourceOf(s, entry, excerpt);
  record += u">  <original>";
  record += source.Before;
  record += u"<error>";
  record += source.Error;
  record += u"</error>";
  record += source.After;
  record += u"</original>";
  record += views.Unfolded;
  record += views.Parened;
  record += views.AsmCode;
  record += views.Braced;
  record += views.Boxed;
  record += notes;
  record += u"</inerror-history>";
  return record;
}

// Entries whose start, end and line are all absent show nothing.
bool HasPosition(const TPosition& entry) { return entry.StartPos != -1 || entry.EndPos != -1 || entry.Line != -1; }

// The entry the history page opens on: the last one that has an open source
// window while no topic is chosen (its topic is chosen), gives a topic the
// context lacks, or carries the marker blank. -1 when none does.
int ChooseShownEntry(Host& host, const std::vector<TPosition>& trace, const TPosition& context,
                     std::u16string& chosenTopic) {
  int shown = -1;
  for (size_t i = 0; i < trace.size(); ++i) {
    const TPosition& entry = trace[i];
    if (SourceWindowOpen(host, entry) && chosenTopic.empty()) {
      chosenTopic = entry.Topic;
      shown = static_cast<int>(i);
    } else if ((context.Topic.empty() && !entry.Topic.empty()) || IsMarkedTopic(entry.Topic)) {
      shown = static_cast<int>(i);
    }
  }
  return shown;
}

// The record the parameter files describe, and the help topic.
struct ErrorContextChoice {
  TPosition Record;
  std::u16string Topic;
  bool OpenWindowSeen = false;
};

// The first entry with an open source window, an entry with a topic while
// the context has none, and a marked entry always, become the context.
void UpdateContext(Host& host, const TPosition& entry, ErrorContextChoice& context) {
  if (!context.OpenWindowSeen && SourceWindowOpen(host, entry)) {
    context.OpenWindowSeen = true;
    context.Record = entry;
    if (context.Topic.empty()) context.Topic = entry.Topic;
  }
  if ((context.Record.Topic.empty() && !entry.Topic.empty()) || IsMarkedTopic(entry.Topic)) {
    context.Record = entry;
    context.Topic = entry.Topic;
  }
  context.Record.Topic = context.Topic;
}

void WriteHistoryFile(TStructure& s, const std::u16string& records) {
  if (!HelpFolderReady(s)) return;
  std::u16string text = u"<errorrecords>";
  text += records;
  text += u"</errorrecords>";
  const std::u16string folder = s.HelpFolder + u"the-inspector";
  std::error_code ignored;  // a folder that cannot be made fails the write below
  std::filesystem::create_directories(std::filesystem::path(Utf16ToUtf8(folder)), ignored);
  try {
    WriteUnicodeFile(folder + u"/error-history-records.xml", text);
  } catch (const FileError& error) {
    ReportFileError(s, error);
  }
}

// The parameter files of the error page: the excerpt around the context's
// range, its start, source name and lines.
void WriteContextFiles(TStructure& s, const TPosition& context, bool full) {
  if (!HelpFolderReady(s)) return;
  const TErrorContext excerpt = ExtractErrorContext(context, full);
  try {
    WriteHelpSnippet(s, u"$$$error-01$$$.txt", excerpt.Before);
    WriteHelpSnippet(s, u"$$$error-02$$$.txt", excerpt.Error);
    WriteHelpSnippet(s, u"$$$error-03$$$.txt", excerpt.After);
    WriteHelpSnippet(s, u"$$$error-pos$$$.txt", Decimal(ZeroBasedStart(context)));
    WriteHelpSnippet(s, u"$$$error-name$$$.txt", context.SourceName.str());
    WriteHelpSnippet(s, u"$$$error-line$$$.txt", LineText(context, excerpt));
  } catch (const FileError& error) {
    ReportFileError(s, error);
  }
}

std::u16string WriteHistoryOf(TInterpreter& in, OwnedTrace trace, bool full) {
  TStructure& s = in.S;
  Host& host = in.host();
  const RestoreOnExit<bool> eventsSuspended(s.EventsSuspended, true);
  host.refreshMemory();
  const RestoreOnExit<bool> writing(in.ErrorHistoryWriting, true);

  s.CurrentPosition.SourceName = SharedText();
  ErrorContextChoice context{s.CurrentPosition, {}, false};
  const std::vector<TPosition>& entries = trace.Entries;
  const int shown = ChooseShownEntry(host, entries, context.Record, context.Topic);
  // A lone entry is shown even when nothing chose it.
  const bool showLoneEntry = shown < 0 && entries.size() == 1;

  std::u16string records;
  int subitem = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TPosition& entry = entries[i];
    if (!HasPosition(entry)) continue;
    UpdateContext(host, entry, context);
    records += BuildRecord(in, entry, ++subitem, static_cast<int>(i) == shown || showLoneEntry);
  }
  WriteHistoryFile(s, records);

  // The current position takes no pins: the entries' statement and owner
  // are let go with the trace.
  s.CurrentPosition = context.Record;
  s.CurrentPosition.Statement = nullptr;
  s.CurrentPosition.FrameOwner = nullptr;
  WriteContextFiles(s, s.CurrentPosition, full);
  s.CurrentPosition.Topic = WithoutMarker(s.CurrentPosition.Topic);
  return s.CurrentPosition.Topic;
}

}  // namespace

void ShowRunError(TInterpreter& in, const std::u16string& message) {
  if (message.empty()) {
    // Nothing to show, but its entries must not reach the next report.
    ClearErrorHistory(in);
    return;
  }
  if (in.ErrorHistoryWriting) {
    // Raised by the inspector while a history is written: the writer drops
    // what this run left in the trace.
    PrintToOutput(in.S, u"suspended:" + message);
    return;
  }

  // Cleared also when the report fails; entries left by runs nested in the
  // dialog go with it.
  const TraceClearer clearer(in);
  OwnedTrace trace(in.S);
  try {
    ReportRunError(in, message, trace);
  } catch (const std::exception&) {
    // The report never raises.
  }
}

std::u16string WriteErrorHistory(TInterpreter& in, bool full) { return WriteHistoryOf(in, OwnedTrace(in.S), full); }

TErrorContext ExtractErrorContext(const TPosition& position, bool full) {
  TErrorContext excerpt;
  if (position.StartPos < 0 && position.EndPos < 0) return excerpt;

  const std::u16string& text = position.SourceText.str();
  // 0-based and inside the text; a missing start or end stands for the other.
  const auto offset = [&text](int32_t pos) {
    return static_cast<size_t>(std::clamp<int64_t>(int64_t{pos} - 1, 0, static_cast<int64_t>(text.size())));
  };
  size_t start = offset(position.StartPos < 0 ? position.EndPos : position.StartPos);
  size_t end = offset(position.EndPos < 0 ? position.StartPos : position.EndPos);
  if (start > end) std::swap(start, end);

  const std::vector<size_t> starts = LineStarts(text);
  const size_t first = full ? 0 : LineOf(starts, start);
  const size_t last = full ? LastTextLine(starts, text.size()) : LineOf(starts, end > start ? end - 1 : start);
  const size_t excerptBegin = full ? 0 : starts[first];
  const size_t excerptEnd = full || last + 1 >= starts.size() ? text.size() : starts[last + 1];

  excerpt.Before = text.substr(excerptBegin, start - excerptBegin);
  if (!full && last - first + 1 > kMaxExcerptLines) {
    const size_t cutBegin = starts[first + kExcerptEdgeLines];
    const size_t cutEnd = starts[last + 1 - kExcerptEdgeLines];
    excerpt.Error = text.substr(start, cutBegin - start);
    excerpt.Error += u":\r\n";
    excerpt.Error.append(text, cutEnd, end - cutEnd);
  } else {
    excerpt.Error = text.substr(start, end - start);
  }
  excerpt.After = text.substr(end, excerptEnd - end);

  for (std::u16string* part : {&excerpt.Before, &excerpt.Error, &excerpt.After})
    ReplaceAll(*part, u"\t", u"   ", false);
  DropFinalLineEnd(excerpt.After);
  excerpt.FirstLine = static_cast<int32_t>(first);
  excerpt.LastLine = static_cast<int32_t>(last);
  return excerpt;
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

// --- input errors ------------------------------------------------------------------

std::u16string BadArgMessage(const TStructure& s, int inputNumber, std::u16string_view what) {
  return s.MessageText(u"BADARG", {static_cast<long long>(inputNumber), std::u16string(what)});
}

void RaiseInputError(TInterpreter& in, std::u16string_view key, const std::u16string& message, const TAtom* offending,
                     int32_t start, int32_t end) {
  TStructure& s = in.S;
  // Nothing reads the parameter files of an error that is not raised.
  if (s.CurrentPosition.Line != -1) {
    std::u16string dump;
    TAtom::DumpTree(s, offending, u"", dump);
    WriteErrorFile(s, 4, dump);
    WriteErrorFile(s, 5, TAtom::KindName(offending, false));
    WriteErrorFile(s, 6, TAtom::KindName(offending, true));
  }
  RaiseAt(in, key, message, start, end);
}
