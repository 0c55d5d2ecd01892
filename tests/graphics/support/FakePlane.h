#pragma once
// A drawing plane for tests: it exists, is ready and makes its "context"
// current as the test says, presents frames as the plane does (a flush
// through the table, then the graphics' buffer swap and frame end), and
// counts what the graphics module asks of it.

#include <functional>
#include <string>
#include <vector>

#include "graphics/PlaneLink.h"

class Graphics;

class FakePlane : public PlaneLink {
public:
  explicit FakePlane(Graphics& g) : g_(g) {}

  // --- what the test sets ---------------------------------------------------------
  bool Exists = true;
  bool Ready = true;
  bool CanMakeCurrent = true;
  PlaneSize Size{64, 48};
  bool ThrowOnPresent = false;  // presentFrame raises a LanguageError instead of presenting
  std::function<void()> OnPresent;                   // runs inside presentFrame, before the flush
  std::function<void(const PlaneEvent&)> OnDispatch;  // runs inside dispatchEvent

  // --- what the plane was asked --------------------------------------------------------
  int Presents = 0;
  int PresentsWhileCompiling = 0;  // the real plane defers these; the scene must never ask
  int Swaps = 0;
  int FrontPresents = 0;
  int Projections = 0;
  int Repaints = 0;
  int WindowResets = 0;
  int MakeCurrentCalls = 0;
  std::vector<PlaneEvent> Dispatched;
  std::vector<uint32_t> Backgrounds;

  // --- PlaneLink ---------------------------------------------------------------------------
  bool exists() override { return Exists; }
  bool ready() override { return Ready; }
  bool makeCurrent() override;
  PlaneSize clientSize() override { return Size; }
  void presentFrame() override;
  void swapBuffers() override { ++Swaps; }
  void presentFront() override { ++FrontPresents; }
  void setupProjection() override { ++Projections; }
  void repaintNow() override { ++Repaints; }
  void dispatchEvent(const PlaneEvent& event) override;
  void resetPlaneWindow() override;
  void setHideProgramControls(std::function<void()> callback) override { hideControls_ = std::move(callback); }
  void setBackground(uint32_t rgb) override { Backgrounds.push_back(rgb); }
  void setResizable(bool) override {}
  void setBusyCursor(bool) override {}
  PlanePicture capturePicture() override { return {}; }
  std::string savePicture(const PlanePicture&, const std::u16string&, int, bool) override { return {}; }
  void print() override {}

private:
  Graphics& g_;
  std::function<void()> hideControls_;
};
