#pragma once
// The core's one door to the windows and the drawing plane. The environment
// implements Host over its Qt windows; tests use the recording headless host
// in tests/support. The core never includes a GUI or GL header.
//
// Ranges travel as scanner offsets (1-based, into the CR LF text the position
// record shares); implementations convert them with EditorPosition.

#include <cstdint>
#include <string>
#include <vector>

class TAtom;

// A source window, found by its file name or title.
class SourceView {
public:
  virtual ~SourceView() = default;
  virtual void bringToFront() = 0;
  // Shows the debug marker at the line holding startPos.
  virtual void showDebugLine(int32_t startPos, const std::u16string& sourceText) = 0;
  virtual void hideDebugLine() = 0;
  // Selects the range [startPos, endPos) as the error range.
  virtual void showErrorRange(int32_t startPos, int32_t endPos, const std::u16string& sourceText) = 0;
  virtual void clearErrorRange() = 0;
  // Shows the statement a paused run stands on, and ends that display. These
  // never touch the document, its undo history or its modified flag.
  virtual void showPausedStatement(int32_t startPos, int32_t endPos, const std::u16string& sourceText) = 0;
  virtual void endPausedStatement() = 0;
  virtual int32_t firstVisibleLine() = 0;
  // 0 clears the state icon, 1 the main state icon, 2 the second one.
  virtual void setStateIcon(int icon) = 0;
  // The window's title, its editor text and the folder of its file ("" when
  // the window has no file).
  virtual std::u16string title() = 0;
  virtual std::u16string text() = 0;
  virtual std::u16string fileFolder() = 0;
};

// The plane's share of the interpreter: display lists and the scene redraw.
// The graphics module (graphics/Graphics.h) implements it over the GL call
// table; hosts without a plane use NoPlaneGraphics.
class GraphicsHooks {
public:
  virtual ~GraphicsHooks() = default;
  virtual void redrawScene() = 0;
  // A drawable changed: compiles its list, then the list of each ancestor up
  // to the root.
  virtual void compileDisplayLists(TAtom& variable) = 0;
  // Deletes the variable's list and those of its descendants.
  virtual void deleteDisplayLists(TAtom& variable) = 0;
  // The display list named by an atom identity.
  virtual bool isDisplayList(uint32_t identity) = 0;
  virtual void deleteDisplayList(uint32_t identity) = 0;
  // The plane's part of the interpreter reset: hide program controls on the
  // plane, white clear colour, double buffering, projection, no pacing.
  virtual void resetPlane() = 0;
  virtual bool paintingSuspended() = 0;
  // Lets the plane paint again when a run ends.
  virtual void resumePainting() = 0;
  // Recompiles every list of the tree, redraws and replays queued plane
  // events.
  virtual void paintResume() = 0;
  virtual bool doubleBuffered() = 0;
};

// The hooks of a host without a plane: nothing to draw, no display lists.
class NoPlaneGraphics : public GraphicsHooks {
public:
  void redrawScene() override {}
  void compileDisplayLists(TAtom&) override {}
  void deleteDisplayLists(TAtom&) override {}
  bool isDisplayList(uint32_t) override { return false; }
  void deleteDisplayList(uint32_t) override {}
  void resetPlane() override {}
  bool paintingSuspended() override { return false; }
  void resumePainting() override {}
  void paintResume() override {}
  bool doubleBuffered() override { return true; }
};

// Return codes of showMessageDialog.
enum DialogResult : int { drOk = 0, drNo = 1, drCancel = 2, drOther = 3, drHelp = 5, drReplaceAll = 6 };
// Button flags of showMessageDialog (OK is always shown).
enum DialogFlags : int { dfOk = 1, dfNo = 2, dfCancel = 4, dfEdit = 16, dfHelp = 32, dfReplaceAll = 64 };

class Host {
public:
  virtual ~Host() = default;
  // Processes pending window messages once (the interpreter's pump points).
  virtual void processMessages() = 0;
  // Sleeps up to ms milliseconds, then processes pending messages (pause loop).
  virtual void waitAndProcessMessages(int ms) = 0;
  // Appends one line to the output window; colour is RGB 0x00BBGGRR, 0 black.
  virtual void printLine(const std::u16string& text, uint32_t colour, bool bold) = 0;
  // The modal message dialog; returns a DialogResult.
  virtual int showMessageDialog(const std::u16string& message, const std::u16string& extra, const std::u16string& topic,
                                int flags) = 0;
  // Writes the run state through the main window (icons and menus follow).
  virtual void setRunState(uint8_t state) = 0;
  // The open source window whose file name or title is name, else null.
  virtual SourceView* findSource(const std::u16string& name) = 0;
  virtual GraphicsHooks& graphics() = 0;
  // Brings the help window to the front (showing the page of topic).
  virtual void showHelp(const std::u16string& topic) = 0;
  // Refreshes the memory window when it is open.
  virtual void refreshMemory() = 0;
  // The main window's elapsed-time item ("" empties it).
  virtual void setElapsedTime(const std::u16string& text) = 0;
  // Starts a program with its arguments in folder ("" the current folder),
  // detached: nothing waits for it or reads its output. False when it could
  // not be started.
  virtual bool startDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                             const std::u16string& folder) = 0;
  // The outermost run entry has returned (after the reset it deferred): no
  // run is on the stack any more. Called once per outermost return.
  virtual void runsEnded() {}
  // Asked when a help parameter file is about to be written and
  // TStructure::HelpFolder is empty: a host that makes its folder only when
  // it is needed answers it here (with a final "/"); "" leaves it empty and
  // the file unwritten.
  virtual std::u16string makeHelpFolder() { return {}; }

  // Whether a pump may show the running calls' variables (and so keep their
  // identities): a host without windows says no, so the frames of calls in
  // flight stay fit for reuse. Code a pump runs counts on its own.
  virtual bool pumpShowsVariables() const { return true; }
};

// A host with nothing behind it: no windows, no plane; output is dropped,
// dialogs answer OK and no program starts. For runs that need no user.
class SilentHost : public Host {
public:
  void processMessages() override {}
  void waitAndProcessMessages(int) override {}
  bool pumpShowsVariables() const override { return false; }
  void printLine(const std::u16string&, uint32_t, bool) override {}
  int showMessageDialog(const std::u16string&, const std::u16string&, const std::u16string&, int) override {
    return drOk;
  }
  void setRunState(uint8_t) override {}
  SourceView* findSource(const std::u16string&) override { return nullptr; }
  GraphicsHooks& graphics() override { return graphics_; }
  void showHelp(const std::u16string&) override {}
  void refreshMemory() override {}
  void setElapsedTime(const std::u16string&) override {}
  bool startDetached(const std::u16string&, const std::vector<std::u16string>&, const std::u16string&) override {
    return false;
  }

private:
  NoPlaneGraphics graphics_;
};
