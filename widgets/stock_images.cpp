// Stock pictures painted pixel by pixel: each is a stack of shapes given by a coverage test,
// sampled 4 x 4 times per pixel for smooth edges.
#include "widgets/stock_images.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace nimbrel {
namespace {

// A shape in a 0..1 square: whether a point lies inside it.
using TShape = std::function<bool(double X, double Y)>;
struct TLayer {
  TShape Shape;
  uint32_t Color;  // 0xRRGGBB
};

bool InRect(double X, double Y, double L, double T, double R, double B) { return X >= L && X < R && Y >= T && Y < B; }
bool InCircle(double X, double Y, double Cx, double Cy, double R) { return (X - Cx) * (X - Cx) + (Y - Cy) * (Y - Cy) < R * R; }
// Within Width of the segment from (Ax, Ay) to (Bx, By).
bool NearSegment(double X, double Y, double Ax, double Ay, double Bx, double By, double Width) {
  const double Dx = Bx - Ax, Dy = By - Ay;
  const double T = std::clamp(((X - Ax) * Dx + (Y - Ay) * Dy) / (Dx * Dx + Dy * Dy), 0.0, 1.0);
  const double Px = Ax + T * Dx - X, Py = Ay + T * Dy - Y;
  return Px * Px + Py * Py < Width * Width / 4;
}
// A point of a parallelogram given by a corner and two edge vectors.
bool InParallelogram(double X, double Y, double Ox, double Oy, double Ux, double Uy, double Vx, double Vy) {
  const double Det = Ux * Vy - Uy * Vx;
  const double A = ((X - Ox) * Vy - (Y - Oy) * Vx) / Det;
  const double B = (Ux * (Y - Oy) - Uy * (X - Ox)) / Det;
  return A >= 0 && A < 1 && B >= 0 && B < 1;
}

std::vector<TLayer> Document() {
  const double Fold = 0.28;
  auto Sheet = [=](double X, double Y) {
    return InRect(X, Y, 0.16, 0.06, 0.84, 0.94) && !(X > 0.84 - Fold && Y < 0.06 + Fold && (0.84 - X) < (Y - 0.06));
  };
  auto Inner = [=](double X, double Y) {
    return InRect(X, Y, 0.22, 0.12, 0.78, 0.88) && !(X > 0.78 - Fold && Y < 0.12 + Fold && (0.78 - X) < (Y - 0.12) + 0.06);
  };
  auto Corner = [=](double X, double Y) {
    return X > 0.84 - Fold && X < 0.84 && Y > 0.06 && Y < 0.06 + Fold && (0.84 - X) <= (Y - 0.06) + 0.001;
  };
  return {{Sheet, 0x8A8A8A}, {Inner, 0xFFFFFF}, {Corner, 0xC8C8C8}};
}

// One cube in isometric view with its front-left corner... at (Cx, Cy) as the top of its front edge.
void AddCube(std::vector<TLayer>& Layers, double Cx, double Cy, double S) {
  const double H = S * 0.5;
  Layers.push_back({[=](double X, double Y) { return InParallelogram(X, Y, Cx - S, Cy - H, S, H, S, -H); }, 0x7FB2F0});
  Layers.push_back({[=](double X, double Y) { return InParallelogram(X, Y, Cx - S, Cy - H, S, H, 0, S); }, 0x2F6FD0});
  Layers.push_back({[=](double X, double Y) { return InParallelogram(X, Y, Cx, Cy, S, -H, 0, S); }, 0x1D4E9E});
}

std::vector<TLayer> Registry() {
  std::vector<TLayer> Layers;
  AddCube(Layers, 0.30, 0.52, 0.22);
  AddCube(Layers, 0.70, 0.52, 0.22);
  AddCube(Layers, 0.50, 0.30, 0.22);
  AddCube(Layers, 0.50, 0.72, 0.22);
  return Layers;
}

std::vector<TLayer> Clock() {
  return {
      {[](double X, double Y) { return InCircle(X, Y, 0.5, 0.5, 0.46); }, 0x3A6FB0},
      {[](double X, double Y) { return InCircle(X, Y, 0.5, 0.5, 0.36); }, 0xFFFFFF},
      {[](double X, double Y) { return NearSegment(X, Y, 0.5, 0.5, 0.5, 0.22, 0.09); }, 0x303030},
      {[](double X, double Y) { return NearSegment(X, Y, 0.5, 0.5, 0.7, 0.58, 0.09); }, 0x303030},
  };
}

// A gear wheel: teeth around a disc, with a hole.
TShape Gear(double Cx, double Cy, double R, int Teeth, double Phase) {
  return [=](double X, double Y) {
    const double Dx = X - Cx, Dy = Y - Cy;
    const double Distance = std::sqrt(Dx * Dx + Dy * Dy);
    if (Distance < R * 0.32) return false;
    const double Angle = std::atan2(Dy, Dx) * Teeth + Phase;
    const double Outer = std::cos(Angle) > 0 ? R : R * 0.74;
    return Distance < Outer;
  };
}

std::vector<TLayer> Gears() {
  return {
      {Gear(0.64, 0.64, 0.34, 8, 0.0), 0x707070},
      {Gear(0.32, 0.32, 0.28, 7, 0.4), 0x9A9A9A},
  };
}

}  // namespace

std::vector<uint32_t> DrawStockImage(TStockImage Image, int Size) {
  std::vector<uint32_t> Pixels(static_cast<size_t>(std::max(Size, 0)) * std::max(Size, 0), 0);
  if (Size <= 0) return Pixels;
  const std::vector<TLayer> Layers = Image == TStockImage::Document ? Document()
                                     : Image == TStockImage::Registry ? Registry()
                                     : Image == TStockImage::Clock    ? Clock()
                                                                      : Gears();
  constexpr int Samples = 4;
  for (int Py = 0; Py < Size; ++Py) {
    for (int Px = 0; Px < Size; ++Px) {
      double Red = 0, Green = 0, Blue = 0;
      int Covered = 0;
      for (int Sy = 0; Sy < Samples; ++Sy) {
        for (int Sx = 0; Sx < Samples; ++Sx) {
          const double X = (Px + (Sx + 0.5) / Samples) / Size;
          const double Y = (Py + (Sy + 0.5) / Samples) / Size;
          // The topmost layer that covers the sample gives its colour.
          for (auto Layer = Layers.rbegin(); Layer != Layers.rend(); ++Layer) {
            if (Layer->Shape(X, Y)) {
              Red += (Layer->Color >> 16) & 0xFF;
              Green += (Layer->Color >> 8) & 0xFF;
              Blue += Layer->Color & 0xFF;
              ++Covered;
              break;
            }
          }
        }
      }
      if (Covered == 0) continue;
      const auto Alpha = static_cast<uint32_t>(Covered * 255 / (Samples * Samples));
      Pixels[static_cast<size_t>(Py) * Size + Px] = (Alpha << 24) | (static_cast<uint32_t>(Red / Covered) << 16) |
                                                    (static_cast<uint32_t>(Green / Covered) << 8) |
                                                    static_cast<uint32_t>(Blue / Covered);
    }
  }
  return Pixels;
}

TOwnedIcon MakeStockIcon(TStockImage Image, int Size) {
  const std::vector<uint32_t> Pixels = DrawStockImage(Image, Size);
  BITMAPV5HEADER Header{};
  Header.bV5Size = sizeof(Header);
  Header.bV5Width = Size;
  Header.bV5Height = -Size;
  Header.bV5Planes = 1;
  Header.bV5BitCount = 32;
  Header.bV5Compression = BI_BITFIELDS;
  Header.bV5RedMask = 0x00FF0000;
  Header.bV5GreenMask = 0x0000FF00;
  Header.bV5BlueMask = 0x000000FF;
  Header.bV5AlphaMask = 0xFF000000;
  void* Bits = nullptr;
  TOwnedBitmap Color(::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&Header), DIB_RGB_COLORS, &Bits, nullptr, 0));
  TOwnedBitmap Mask(::CreateBitmap(Size, Size, 1, 1, nullptr));
  if (!Color || !Mask || Bits == nullptr) return TOwnedIcon();
  std::copy(Pixels.begin(), Pixels.end(), static_cast<uint32_t*>(Bits));
  ICONINFO Info{TRUE, 0, 0, Mask.get(), Color.get()};
  return TOwnedIcon(::CreateIconIndirect(&Info));
}

}  // namespace nimbrel
