// A picture of a message, decoded by the Windows Imaging Component from the
// bytes in memory and drawn scaled to fit: no image code of ours reads them.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <string>

namespace postvue {

class TPicture {
public:
  // Decodes the first frame of bytes; Valid() tells whether the imaging
  // component could. COM must be initialised on the thread.
  explicit TPicture(std::string bytes);
  ~TPicture();
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  bool Valid() const { return Source != nullptr; }
  SIZE Size() const { return {static_cast<LONG>(Width), static_cast<LONG>(Height)}; }

  // Draws the picture within box, scaled down to fit (never up), centred,
  // over background.
  void Draw(HDC canvas, const RECT& box, COLORREF background);

private:
  std::string Bytes; // the stream reads them in place
  Microsoft::WRL::ComPtr<IWICImagingFactory> Factory;
  Microsoft::WRL::ComPtr<IWICBitmapSource> Source; // premultiplied BGRA
  UINT Width = 0, Height = 0;
  // The picture at the size last drawn, over the background last drawn.
  HBITMAP Scaled = nullptr;
  SIZE ScaledSize{};
  COLORREF ScaledBackground = 0;
};

} // namespace postvue
