#include "Picture.h"

#include <algorithm>
#include <cstdint>

namespace postvue {

namespace {
// Beyond this a picture is only listed: its pixels alone would take some
// gigabytes, and no mail picture is that large.
constexpr std::uint64_t kMaxPixels = 100'000'000;
} // namespace

using Microsoft::WRL::ComPtr;

TPicture::TPicture(std::string bytes) : Bytes(std::move(bytes)) {
  if (Bytes.empty() || Bytes.size() > 0xFFFFFFFFu) return;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Factory)))) return;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  UINT width = 0, height = 0;
  if (FAILED(Factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(Bytes.data()), static_cast<DWORD>(Bytes.size()))) ||
      FAILED(Factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0 ||
      std::uint64_t{width} * height > kMaxPixels || FAILED(Factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    return;
  Source = converter;
  Width = width;
  Height = height;
}

TPicture::~TPicture() {
  if (Scaled) DeleteObject(Scaled);
}

void TPicture::Draw(HDC canvas, const RECT& box, COLORREF background) {
  if (!Source) return;
  const int boxWidth = box.right - box.left, boxHeight = box.bottom - box.top;
  if (boxWidth <= 0 || boxHeight <= 0) return;
  const double scale = std::min({1.0, static_cast<double>(boxWidth) / Width, static_cast<double>(boxHeight) / Height});
  const SIZE size{std::max<LONG>(1, static_cast<LONG>(Width * scale)), std::max<LONG>(1, static_cast<LONG>(Height * scale))};
  if (!Scaled || size.cx != ScaledSize.cx || size.cy != ScaledSize.cy || background != ScaledBackground) {
    if (Scaled) DeleteObject(Scaled);
    Scaled = nullptr;
    ComPtr<IWICBitmapScaler> scaler;
    if (FAILED(Factory->CreateBitmapScaler(&scaler)) ||
        FAILED(scaler->Initialize(Source.Get(), static_cast<UINT>(size.cx), static_cast<UINT>(size.cy),
                                  WICBitmapInterpolationModeFant)))
      return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy; // top-down, as the imaging component gives rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return;
    const UINT stride = static_cast<UINT>(size.cx) * 4;
    if (FAILED(scaler->CopyPixels(nullptr, stride, stride * static_cast<UINT>(size.cy), static_cast<BYTE*>(bits)))) {
      DeleteObject(bitmap);
      return;
    }
    // Transparent parts show the background: premultiplied colour plus the
    // background by what the pixel leaves uncovered.
    const BYTE back[3] = {GetBValue(background), GetGValue(background), GetRValue(background)};
    auto* pixel = static_cast<BYTE*>(bits);
    for (LONG i = 0; i < size.cx * size.cy; ++i, pixel += 4) {
      const unsigned uncovered = 255u - pixel[3];
      for (int c = 0; c < 3; ++c) pixel[c] = static_cast<BYTE>(std::min(255u, pixel[c] + back[c] * uncovered / 255u));
      pixel[3] = 255;
    }
    GdiFlush();
    Scaled = bitmap;
    ScaledSize = size;
    ScaledBackground = background;
  }
  const HDC memory = CreateCompatibleDC(canvas);
  const HGDIOBJ former = SelectObject(memory, Scaled);
  BitBlt(canvas, box.left + (boxWidth - size.cx) / 2, box.top + (boxHeight - size.cy) / 2, size.cx, size.cy, memory, 0, 0,
         SRCCOPY);
  SelectObject(memory, former);
  DeleteDC(memory);
}

} // namespace postvue
