#pragma once
// Display lists and the scene redraw. A drawable variable (one with a
// cached ondrawimage child) owns the display list named by its identity;
// the scene is the lists of the root's children, drawn through the camera.
// All GL calls go through the call table except the redraw's few direct
// ones, which are never recorded.

class Graphics;
class TAtom;

// (Re)builds the atom's list by running its drawing code quietly inside it;
// with compile false the same drawing goes straight to the current target
// and no list is made.
void CompileDisplayList(Graphics& g, TAtom* atom, bool compile);
// Deletes the atom's list and those of its descendants.
void DeleteDisplayLists(Graphics& g, TAtom* atom);
// Draws one object at once (under its pick name when it has a list).
void DrawImageNow(Graphics& g, TAtom* atom);
// Deletes and recompiles the lists of the atom's subtree, children first.
void RecompileTree(Graphics& g, TAtom* atom);
// Draws the whole scene and presents it; a request from inside a redraw
// becomes one more pass of the running redraw.
void RedrawScene(Graphics& g);
// Recompiles every list of the tree, redraws, then replays the plane events
// queued meanwhile.
void PaintResume(Graphics& g);
// RecompileTree of the atom and a redraw (with the same re-entry rule as
// PaintResume).
void RegenerateImage(Graphics& g, TAtom* atom);
void RegenerateJustImage(Graphics& g, TAtom* atom);
