// The main window's colours, fonts, geometry unit and icon, as plain values and functions
// so that they can be checked without building the window.
//
// Threads: UI thread only (the icon needs a running QGuiApplication).
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>

#include "core/twips.h"

namespace zb::look {

// Window, top strip, control strip and voice panel background.
inline constexpr QRgb kBackground = qRgb(80, 73, 47);
// Background of entry fields: selectors, text boxes, file-name fields, waveform strips.
inline constexpr QRgb kField = qRgb(130, 106, 82);
// Text of entry fields and panel titles; face of the push buttons; the waveform trace.
inline constexpr QRgb kFace = qRgb(203, 228, 199);
// Field labels of the voice panels and the control strip's caption.
inline constexpr QRgb kLabel = qRgb(135, 193, 33);
// Greyed text of disabled push buttons and fields.
inline constexpr QRgb kDisabledText = qRgb(128, 128, 128);

// The fixed client area: 11535 x 6255 twips.
inline constexpr int kClientWidthTwips = 11535;
inline constexpr int kClientHeightTwips = 6255;

// Twips to pixels, to the nearest pixel.
int px(int twips);
// A rectangle given in twips (left, top, width, height), in pixels.
QRect twipsRect(int left, int top, int width, int height);

// The voice panels' face: Verdana when it is installed, else DejaVu Sans.
QString panelFontFamily(const QStringList& installedFamilies);

// The window's own face for push buttons, file-name fields and the control strip: the
// same rule as the panels, never the desktop's default, whose width varies by machine.
QString windowFontFamily(const QStringList& installedFamilies);

// The window font's size: the largest of 8.25 pt (the panels' size) down to 6 pt, in
// quarter points, at which `fits` holds; 6 pt when none does. The fixed button widths
// decide, since one face renders a little wider or narrower from machine to machine.
double windowFontPoints(const std::function<bool(double points)>& fits);

// The window icon: a 32 x 32 grid of four voice rows of eight steps, some lit, drawn in
// the window's own colours.
QImage windowIconImage();

// Before the QApplication is made: on X11 the window's repaints go to the server over its
// socket instead of shared memory, unless the user has chosen (QT_XCB_NO_MITSHM is set).
// Through shared memory Qt waits for the server before it repaints a span it sent last
// time, and the step marker repaints such spans at every step: that wait was a third of
// the program's CPU while playing, the copy of a few narrow spans costs far less. True when
// this call made the choice.
bool SendRepaintsOverSocket();
// After the QApplication is made: programs started from this one do not inherit it.
void ForgetRepaintsOverSocket(bool chosenHere);

}  // namespace zb::look
