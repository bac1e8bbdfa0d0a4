#pragma once

#include <QString>
#include <QStringList>

class QWidget;
class TWebBrowser;

// The web page engine is large (about 85 MB resident once its libraries are
// mapped), so the program never links it: it sits in a plugin beside the
// program that is loaded the first time a browser is asked for. Until then
// the program pays nothing for it.

// Must run at the very start of main(), before the QApplication object is
// made and before any other thread starts: the engine's switches go into the
// environment, which is not safe to change once threads run. Loads nothing
// and costs nothing. (The shared OpenGL context the engine needs is made on
// first use, not here: see WebEngine.cpp.)
//
// The engine's switches, all set here and only where they are needed:
// - as root, Chromium refuses to start its sandbox, so the sandbox is turned
//   off (QTWEBENGINE_DISABLE_SANDBOX=1);
// - without a GPU render node (/dev/dri/renderD*), as on a virtual X server,
//   GPU rasterising would run on a software OpenGL, which is slower than the
//   engine's own software path, so the GPU is disabled (--disable-gpu);
// - everywhere, the engine's paint holding is off: after a navigation within
//   one site it keeps showing the old page until the new one paints text or
//   an image, or a timeout passes, and a capture in that time would take the
//   old page.
// What the user set in the environment is kept.
void PrepareWebEngine();

// Loads the engine plugin on first use and makes a browser, a child of
// `parent`. Returns nullptr and sets `error` when the plugin cannot be
// loaded; later calls try again.
TWebBrowser* CreateWebBrowser(QWidget* parent, QString* error = nullptr);

// The plugin's file name and the places it is looked for, in order: beside
// the program, in the install folder relative to the program (../lib/vorantu
// by default), then, for programs inside the build tree only, where this
// build put it.
QString WebEnginePluginName();
QStringList WebEnginePluginCandidates();
