#include "ui/wx/wx_icon.h"

#include <wx/dcmemory.h>
#include <wx/image.h>

wxBitmap ProgramBitmap(int size) {
  wxImage image(size, size);
  image.InitAlpha();
  unsigned char* alpha = image.GetAlpha();
  for (int i = 0; i < size * size; ++i) alpha[i] = 0;
  // A bookmark ribbon with a notch, in the program's blue, and a white tick across it.
  const int left = size / 5, right = size - size / 5, bottom = size - 1, notch = size * 3 / 4;
  for (int y = 0; y < size; ++y) {
    for (int x = left; x < right; ++x) {
      int half = (right - left) / 2;
      int fromCentre = x - left - half;
      if (fromCentre < 0) fromCentre = -fromCentre;
      bool cutOut = y > notch && (bottom - y) < (half - fromCentre) * (bottom - notch) / half;
      if (cutOut) continue;
      image.SetRGB(x, y, 0x1F, 0x5F, 0xBF);
      alpha[y * size + x] = 0xFF;
    }
  }
  const int thick = size >= 24 ? 3 : 2;
  auto plot = [&](int x, int y) {
    for (int dx = 0; dx < thick; ++dx) {
      int px = x + dx;
      if (px >= 0 && px < size && y >= 0 && y < size) image.SetRGB(px, y, 0xFF, 0xFF, 0xFF);
    }
  };
  const int x0 = size * 3 / 10, y0 = size * 4 / 10;
  const int x1 = size * 9 / 20, y1 = size * 11 / 20;
  const int x2 = size * 7 / 10, y2 = size / 5;
  for (int x = x0; x <= x1; ++x) plot(x, y0 + (x - x0) * (y1 - y0) / (x1 - x0 ? x1 - x0 : 1));
  for (int x = x1; x <= x2; ++x) plot(x, y1 + (x - x1) * (y2 - y1) / (x2 - x1 ? x2 - x1 : 1));
  return wxBitmap(image);
}

wxIconBundle ProgramIcons() {
  wxIconBundle bundle;
  for (int size : {16, 32, 48}) {
    wxIcon icon;
    icon.CopyFromBitmap(ProgramBitmap(size));
    bundle.AddIcon(icon);
  }
  return bundle;
}
