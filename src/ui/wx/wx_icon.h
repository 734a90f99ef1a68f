// The program's icon, drawn at run time so no image file has to ship. UI thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/icon.h>
#include <wx/iconbndl.h>

wxBitmap ProgramBitmap(int size);
wxIconBundle ProgramIcons();
