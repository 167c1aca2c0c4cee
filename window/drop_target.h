// Files dropped anywhere on the main window, and the list of input files the
// window converts (one from the field, or several from a drop or the chooser).
#pragma once

#include <string>
#include <vector>

#include "window/session.h"

class QMimeData;
class QWidget;

namespace kestrel::window {

// The local paths a drop carries: its file addresses, or else one path per
// line of its text ("file://" addresses are turned into paths).
std::vector<std::string> DroppedPaths(const QMimeData& data);

// Dropped files go to the input: the accepted ones become the window's input
// files, the first shown in the input field. A folder dropped on the output
// folder field becomes the output folder; dropped anywhere else, its files
// become the input (TakeInputFolder).
void DropFiles(Session& session, const QMimeData& data, bool ontoOutputField = false);

// Makes every text field of the main window hand dropped files to DropFiles
// instead of pasting their addresses as text; the rest of the window passes
// drops up to the main window itself.
void InstallDropTargets(Session& session);

// Takes the accepted files of paths as the window's inputs; returns how many
// were accepted. Nothing changes when none is.
int TakeInputFiles(Session& session, const std::vector<std::string>& paths);

// The .psd and .psb files below folder (as a batch run's input folder finds
// them) become the window's inputs, each keeping its subfolder below folder.
// A folder that cannot be read, or holds no such file, is refused with a
// warning box and changes nothing. Returns how many files were taken.
int TakeInputFolder(Session& session, const std::string& folder);

// The files the next conversion reads: the window's input files while the
// field still shows the first of them, otherwise the field's one path.
std::vector<std::string> InputFilesToConvert(const Session& session);

}  // namespace kestrel::window
