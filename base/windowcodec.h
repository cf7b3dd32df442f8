#ifndef WINDOWCODEC_H
#define WINDOWCODEC_H

// The first step of every tool window's constructor, before its form is
// built: the Windows build names files in the ANSI code page, so the locale
// codec becomes "GB2312" there; elsewhere file names are UTF-8 and the
// system codec stays. GUI thread.
void set_window_codec();

#endif // WINDOWCODEC_H
