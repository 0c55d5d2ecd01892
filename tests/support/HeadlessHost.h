#pragma once
// A host without windows: it records every call the core makes, answers
// dialogs from a script and has no source window and no plane.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/Host.h"

struct PrintedLine {
  std::u16string Text;
  uint32_t Colour;
  bool Bold;
};

struct StartedProcess {
  std::u16string Program;
  std::vector<std::u16string> Arguments;
  std::u16string Folder;
};

struct ShownDialog {
  std::u16string Message;
  std::u16string Extra;
  std::u16string Topic;
  int Flags;
};

// Records the plane hooks; answers "no list" and, unless told otherwise,
// "not suspended".
class RecordingGraphics : public GraphicsHooks {
public:
  void redrawScene() override { Calls.push_back("redrawScene"); }
  void compileDisplayLists(TAtom& variable) override {
    Calls.push_back("compileDisplayLists");
    Targets.push_back(&variable);
  }
  void deleteDisplayLists(TAtom& variable) override {
    Calls.push_back("deleteDisplayLists");
    Targets.push_back(&variable);
  }
  bool isDisplayList(uint32_t) override {
    Calls.push_back("isDisplayList");
    return false;
  }
  // The collector calls this for every atom it frees: kept apart from Calls.
  void deleteDisplayList(uint32_t identity) override {
    DeletedLists.push_back(identity);
    if (OnDeleteList) OnDeleteList(identity);
  }
  void resetPlane() override { Calls.push_back("resetPlane"); }
  bool paintingSuspended() override { return Suspended; }
  void resumePainting() override { Calls.push_back("resumePainting"); }
  void paintResume() override { Calls.push_back("paintResume"); }
  bool doubleBuffered() override { return true; }

  std::vector<std::string> Calls;
  std::vector<const TAtom*> Targets;  // the variables of the compile and delete calls, in order
  std::vector<uint32_t> DeletedLists;
  std::function<void(uint32_t)> OnDeleteList;  // run after each deleteDisplayList is recorded
  bool Suspended = false;  // the answer of paintingSuspended
};

class HeadlessHost : public Host {
public:
  void processMessages() override {
    ++Pumps;
    if (OnPump) OnPump();
  }
  bool pumpShowsVariables() const override { return ShowsVariables; }
  void waitAndProcessMessages(int ms) override {
    ++Pumps;
    WaitedMs += ms;
    if (OnWait) OnWait(ms);
  }
  void printLine(const std::u16string& text, uint32_t colour, bool bold) override {
    Lines.push_back({text, colour, bold});
  }
  int showMessageDialog(const std::u16string& message, const std::u16string& extra, const std::u16string& topic,
                        int flags) override;
  void setRunState(uint8_t state) override { RunStates.push_back(state); }
  SourceView* findSource(const std::u16string& name) override { return OnFindSource ? OnFindSource(name) : nullptr; }
  GraphicsHooks& graphics() override { return GraphicsOverride != nullptr ? *GraphicsOverride : Graphics; }
  void showHelp(const std::u16string& topic) override { HelpTopics.push_back(topic); }
  void refreshMemory() override { ++MemoryRefreshes; }
  void setElapsedTime(const std::u16string& text) override { ElapsedTimes.push_back(text); }
  // Records the start; only with SpawnForReal set is the process started.
  bool startDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                     const std::u16string& folder) override;
  std::u16string makeHelpFolder() override {
    ++HelpFolderRequests;
    return OnMakeHelpFolder ? OnMakeHelpFolder() : std::u16string();
  }
  void runsEnded() override {
    ++RunsEnded;
    if (OnRunsEnded) OnRunsEnded();
  }

  // The printed lines' texts, one string joined by "\n" (UTF-8), for tests.
  std::string Output() const;

  std::vector<PrintedLine> Lines;
  std::vector<ShownDialog> Dialogs;
  std::deque<int> DialogAnswers;  // answers in order; 0 when empty
  std::vector<uint8_t> RunStates;
  std::vector<std::u16string> HelpTopics;
  int MemoryRefreshes = 0;
  std::vector<std::u16string> ElapsedTimes;
  int Pumps = 0;
  bool ShowsVariables = true;  // the answer of pumpShowsVariables
  int RunsEnded = 0;  // outermost run entries that returned
  int WaitedMs = 0;
  RecordingGraphics Graphics;
  GraphicsHooks* GraphicsOverride = nullptr;  // answers graphics() instead of the recorder when set
  std::vector<StartedProcess> Started;
  bool SpawnForReal = false;

  // Per-test behaviour of the message pump, the pause loop's wait, the
  // source-window lookup (none by default: no windows are open) and the
  // open dialog (called before it answers).
  std::function<void()> OnPump;
  std::function<void(const ShownDialog&)> OnDialog;
  std::function<void(int)> OnWait;
  std::function<SourceView*(const std::u16string&)> OnFindSource;
  std::function<void()> OnRunsEnded;
  std::function<std::u16string()> OnMakeHelpFolder;
  int HelpFolderRequests = 0;
};
