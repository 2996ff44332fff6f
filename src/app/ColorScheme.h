#pragma once

class Appearance;

// The whole QApplication in Fusion, with a dark palette, or with the palette the platform offers (Fusion's
// light one on a bare X11 session). The QApplication must exist.
void applyColorScheme(bool dark);

// Applies the desktop's preference now and at every change while `appearance` lives. Until the desktop
// asks for dark, the application keeps the palette it started with, so a desktop that themes Qt itself
// (KDE, a platform theme plugin) is left alone.
void followAppearance(Appearance& appearance);
