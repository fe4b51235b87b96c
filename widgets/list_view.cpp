// The list-view wrapper: columns, rows by index, callbacks, custom-drawn grey rows and column
// font, row height through the image list, and the explorer look.
#include "widgets/list_view.h"

#include <windowsx.h>
#include <uxtheme.h>

#include <algorithm>

#include "base/system_library.h"
#include "widgets/application.h"
#include "widgets/dpi.h"

namespace nimbrel {

std::vector<uint32_t> IconImage(HICON Icon, int Size, int Width, int Height) {
  std::vector<uint32_t> Result(static_cast<size_t>(Width) * Height, 0);
  if (Icon == nullptr || Size <= 0) return Result;
  // The icon drawn over black and over white: where the two differ, the icon is translucent.
  auto Render = [&](uint32_t Background) {
    std::vector<uint32_t> Pixels(static_cast<size_t>(Size) * Size, Background);
    BITMAPINFO Info{};
    Info.bmiHeader = {sizeof(BITMAPINFOHEADER), Size, -Size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* Bits = nullptr;
    TWindowDc Screen(nullptr);
    TOwnedDc Dc(::CreateCompatibleDC(Screen.get()));
    TOwnedBitmap Bitmap(::CreateDIBSection(Screen.get(), &Info, DIB_RGB_COLORS, &Bits, nullptr, 0));
    if (!Dc || !Bitmap || Bits == nullptr) return std::vector<uint32_t>();
    std::copy(Pixels.begin(), Pixels.end(), static_cast<uint32_t*>(Bits));
    {
      TSelectObject Selected(Dc.get(), Bitmap.get());
      ::DrawIconEx(Dc.get(), 0, 0, Icon, Size, Size, 0, nullptr, DI_NORMAL);
      ::GdiFlush();
    }
    std::copy_n(static_cast<const uint32_t*>(Bits), Pixels.size(), Pixels.begin());
    return Pixels;
  };
  const std::vector<uint32_t> Black = Render(0x00000000);
  const std::vector<uint32_t> White = Render(0x00FFFFFF);
  if (Black.empty() || White.empty()) return Result;
  const int Left = std::max(0, (Width - Size) / 2);
  const int Top = std::max(0, (Height - Size) / 2);
  for (int Y = 0; Y < Size && Top + Y < Height; ++Y) {
    for (int X = 0; X < Size && Left + X < Width; ++X) {
      const uint32_t B = Black[static_cast<size_t>(Y) * Size + X];
      const uint32_t W = White[static_cast<size_t>(Y) * Size + X];
      const int Alpha = 255 - std::clamp(static_cast<int>((W >> 8) & 0xFF) - static_cast<int>((B >> 8) & 0xFF), 0, 255);
      uint32_t Pixel = 0;
      if (Alpha > 0) {
        auto Channel = [&](int Shift) {
          return static_cast<uint32_t>(std::min(255, static_cast<int>((B >> Shift) & 0xFF) * 255 / Alpha)) << Shift;
        };
        Pixel = (static_cast<uint32_t>(Alpha) << 24) | Channel(16) | Channel(8) | Channel(0);
      }
      Result[static_cast<size_t>(Top + Y) * Width + Left + X] = Pixel;
    }
  }
  return Result;
}

TListView::TListView(TComponent* Owner, TControl* Parent, std::wstring Name, bool OwnerData)
    : TControl(Owner, Parent, std::move(Name)), FOwnerData(OwnerData) {
  SetHasCaption(false);
  CreateHandle(WC_LISTVIEWW, WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                 (OwnerData ? LVS_OWNERDATA : 0),
               0);
  if (FHandle == nullptr) return;
  ListView_SetExtendedListViewStyle(FHandle, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP);
  using TSetWindowTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  if (const auto SetTheme = SystemProc<TSetWindowTheme>(L"uxtheme.dll", "SetWindowTheme")) {
    SetTheme(FHandle, L"Explorer", nullptr);
  }
}

TListView::~TListView() {
  if (FImages != nullptr) FImages->OnChange = nullptr;
  if (FImageList != nullptr) {
    if (FHandle != nullptr) ListView_SetImageList(FHandle, nullptr, LVSIL_SMALL);
    ImageList_Destroy(FImageList);
  }
}

void TListView::SetColumns(const std::vector<TListColumn>& Columns) {
  while (ListView_DeleteColumn(FHandle, 0)) {
  }
  FColumns = Columns;
  for (size_t I = 0; I < FColumns.size(); ++I) {
    LVCOLUMNW Column{};
    Column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    Column.pszText = FColumns[I].Caption.data();
    Column.cx = Scale(std::max(FColumns[I].Width, 0));
    Column.iSubItem = static_cast<int>(I);
    ::SendMessageW(FHandle, LVM_INSERTCOLUMNW, I, reinterpret_cast<LPARAM>(&Column));
  }
  FitColumns();
}

void TListView::SetColumnCaption(int Index, const std::wstring& Caption) {
  if (Index < 0 || Index >= static_cast<int>(FColumns.size())) return;
  FColumns[static_cast<size_t>(Index)].Caption = Caption;
  LVCOLUMNW Column{};
  Column.mask = LVCF_TEXT;
  Column.pszText = FColumns[static_cast<size_t>(Index)].Caption.data();
  ::SendMessageW(FHandle, LVM_SETCOLUMNW, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(&Column));
}

std::wstring TListView::ColumnCaption(int Index) const {
  wchar_t Text[256] = {};
  LVCOLUMNW Column{};
  Column.mask = LVCF_TEXT;
  Column.pszText = Text;
  Column.cchTextMax = 256;
  if (!::SendMessageW(FHandle, LVM_GETCOLUMNW, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(&Column))) return {};
  return Text;
}

void TListView::FitColumns() {
  if (FHandle == nullptr) return;
  RECT Client;
  ::GetClientRect(FHandle, &Client);
  int Fixed = 0;
  int Filler = -1;
  for (size_t I = 0; I < FColumns.size(); ++I) {
    if (FColumns[I].Width < 0) {
      Filler = static_cast<int>(I);
    } else {
      Fixed += Scale(FColumns[I].Width);
    }
  }
  if (Filler >= 0) ListView_SetColumnWidth(FHandle, Filler, std::max(Scale(40), static_cast<int>(Client.right) - Fixed));
}

void TListView::SetColumnFont(int Column, const TFontSpec& Font) {
  FFontColumn = Column;
  FColumnFont = Font;
  FColumnFontHandle.reset();
  Invalidate();
}

void TListView::SetRowHeight(int DesignHeight) {
  FRowHeight = DesignHeight;
  BuildImageList();
}

void TListView::SetImages(TIconCollection* Images, int DesignSize) {
  if (FImages != nullptr) FImages->OnChange = nullptr;
  FImages = Images;
  FImageSize = DesignSize;
  if (FImages != nullptr) FImages->OnChange = [this] { SyncImages(); };
  BuildImageList();
}

// The image list sets the row height: its images are as wide as the icons and as high as a row
// less what the control adds around them.
void TListView::BuildImageList() {
  if (FHandle == nullptr) return;
  const int Size = Scale(FImageSize);
  auto Make = [&](int Height) {
    HIMAGELIST List = ImageList_Create(Size, std::max(Height, 1), ILC_COLOR32, 4, 16);
    HIMAGELIST Old = ListView_SetImageList(FHandle, List, LVSIL_SMALL);
    if (Old != nullptr && Old != List) ImageList_Destroy(Old);
    FImageList = List;
    FImagesAdded = 0;
  };
  const int Wanted = FRowHeight > 0 ? Scale(FRowHeight) : Size;
  Make(Wanted - 1);
  if (FRowHeight > 0) {
    // Measure what the control adds, on a row of its own when there is none yet.
    const bool Empty = RowCount() == 0;
    if (Empty) {
      if (FOwnerData) {
        ListView_SetItemCountEx(FHandle, 1, LVSICF_NOINVALIDATEALL);
      } else {
        LVITEMW Item{};
        Item.mask = LVIF_TEXT;
        Item.pszText = LPSTR_TEXTCALLBACKW;
        ::SendMessageW(FHandle, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&Item));
      }
    }
    RECT Row{};
    Row.left = LVIR_BOUNDS;
    const bool Measured = ::SendMessageW(FHandle, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&Row)) != 0;
    if (Empty) {
      if (FOwnerData) {
        ListView_SetItemCountEx(FHandle, 0, LVSICF_NOINVALIDATEALL);
      } else {
        ListView_DeleteItem(FHandle, 0);
      }
    }
    const int Padding = Measured ? (Row.bottom - Row.top) - (Wanted - 1) : 1;
    if (Padding != 1 && Wanted - Padding > 0) Make(Wanted - Padding);
  }
  SyncImages();
}

void TListView::SyncImages() {
  if (FImageList == nullptr || FImages == nullptr) return;
  int Width = 0;
  int Height = 0;
  ImageList_GetIconSize(FImageList, &Width, &Height);
  for (; FImagesAdded < FImages->Count(); ++FImagesAdded) {
    const std::vector<uint32_t> Pixels = IconImage(FImages->Icon(FImagesAdded), Width, Width, Height);
    BITMAPINFO Info{};
    Info.bmiHeader = {sizeof(BITMAPINFOHEADER), Width, -Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* Bits = nullptr;
    TOwnedBitmap Bitmap(::CreateDIBSection(nullptr, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0));
    if (!Bitmap || Bits == nullptr) break;
    std::copy(Pixels.begin(), Pixels.end(), static_cast<uint32_t*>(Bits));
    ImageList_Add(FImageList, Bitmap.get(), nullptr);
  }
  Invalidate();
}

int TListView::RowCount() const { return FHandle != nullptr ? ListView_GetItemCount(FHandle) : 0; }

void TListView::SetRowCount(int Count, bool KeepScroll) {
  ListView_SetItemCountEx(FHandle, Count, KeepScroll ? LVSICF_NOSCROLL : 0);
}

void TListView::InsertRow(int Index) {
  LVITEMW Item{};
  Item.mask = LVIF_TEXT | LVIF_IMAGE;
  Item.iItem = std::clamp(Index, 0, RowCount());
  Item.pszText = LPSTR_TEXTCALLBACKW;
  Item.iImage = I_IMAGECALLBACK;
  ::SendMessageW(FHandle, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&Item));
}

void TListView::DeleteRow(int Index) { ListView_DeleteItem(FHandle, Index); }

void TListView::Clear() { ListView_DeleteAllItems(FHandle); }

void TListView::RefreshRows() {
  if (FHandle == nullptr) return;
  const int Count = RowCount();
  if (Count > 0) ListView_RedrawItems(FHandle, 0, Count - 1);
  ::InvalidateRect(FHandle, nullptr, FALSE);
}

void TListView::BeginUpdate() {
  if (FUpdating++ == 0 && FHandle != nullptr) ::SendMessageW(FHandle, WM_SETREDRAW, FALSE, 0);
}

void TListView::EndUpdate() {
  if (FUpdating == 0 || --FUpdating > 0 || FHandle == nullptr) return;
  ::SendMessageW(FHandle, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(FHandle, nullptr, FALSE);
}

int TListView::SelectedIndex() const {
  // The count is kept by the control; the search asks row by row (of the parent, for owner data).
  if (FHandle == nullptr || ListView_GetSelectedCount(FHandle) == 0) return -1;
  return ListView_GetNextItem(FHandle, -1, LVNI_SELECTED);
}

void TListView::SetSelectedIndex(int Index, bool Scroll) {
  if (Index < 0) {
    ListView_SetItemState(FHandle, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    return;
  }
  ListView_SetItemState(FHandle, Index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  if (Scroll) ListView_EnsureVisible(FHandle, Index, FALSE);
}

int TListView::FocusedIndex() const { return ListView_GetNextItem(FHandle, -1, LVNI_FOCUSED); }

void TListView::UpdateLayout() {
  TControl::UpdateLayout();
  FColumnFontHandle.reset();
  if (!FColumns.empty()) SetColumns(std::vector<TListColumn>(FColumns));
  BuildImageList();
}

void TListView::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_GETDLGCODE:
      // Enter on a row activates it instead of pressing the window's default button.
      DefaultHandler(Message);
      if (Message.LParam != 0) {
        const auto* Key = reinterpret_cast<const MSG*>(Message.LParam);
        if (Key->message == WM_KEYDOWN && Key->wParam == VK_RETURN) Message.Result |= DLGC_WANTMESSAGE;
      }
      return;
    case WM_KEYUP:
      // The context-menu key asks for the menu on its release. Wine's default handling does not
      // (only Shift+F10); the release is taken here, so Windows' own does not ask a second time.
      if (Message.WParam == VK_APPS && OnContextMenu) {
        ::SendMessageW(FHandle, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(FHandle), -1);
        Message.Result = 0;
        return;
      }
      break;
    case WM_CONTEXTMENU: {
      if (!OnContextMenu) break;
      POINT Point{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
      if (Message.LParam == -1) {  // from the keyboard: at the selected row, else the list's corner
        RECT Row{};
        Row.left = LVIR_LABEL;
        const int Index = SelectedIndex();
        if (Index < 0 || !::SendMessageW(FHandle, LVM_GETITEMRECT, static_cast<WPARAM>(Index),
                                          reinterpret_cast<LPARAM>(&Row))) {
          Row = RECT{0, 0, 0, 0};
        }
        Point = POINT{Row.left + Scale(8), Row.bottom};
        ::ClientToScreen(FHandle, &Point);
      }
      GuardedCall([&] { OnContextMenu(Point); });
      Message.Result = 0;
      return;
    }
    case WM_SIZE:
      DefaultHandler(Message);
      FitColumns();
      return;
    default:
      break;
  }
  TControl::WndProc(Message);
}

bool TListView::Notify(const NMHDR& Header, LRESULT& Result) {
  switch (Header.code) {
    case LVN_GETDISPINFOW: {
      auto& Info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(Header));
      if ((Info.item.mask & LVIF_TEXT) != 0 && Info.item.cchTextMax > 0) {
        FTextBuffer = OnGetText ? OnGetText(Info.item.iItem, Info.item.iSubItem) : std::wstring();
        lstrcpynW(Info.item.pszText, FTextBuffer.c_str(), Info.item.cchTextMax);
      }
      if ((Info.item.mask & LVIF_IMAGE) != 0) {
        Info.item.iImage = Info.item.iSubItem == 0 && OnGetImage ? OnGetImage(Info.item.iItem) : -1;
      }
      if ((Info.item.mask & LVIF_STATE) != 0) Info.item.state = 0;  // no state images
      Result = 0;
      return true;
    }
    case LVN_GETINFOTIPW: {
      auto& Tip = const_cast<NMLVGETINFOTIPW&>(reinterpret_cast<const NMLVGETINFOTIPW&>(Header));
      if (OnGetTip && Tip.cchTextMax > 0) {
        FTextBuffer = OnGetTip(Tip.iItem);
        lstrcpynW(Tip.pszText, FTextBuffer.c_str(), Tip.cchTextMax);
      }
      Result = 0;
      return true;
    }
    case LVN_ITEMCHANGED: {
      const auto& Change = reinterpret_cast<const NMLISTVIEW&>(Header);
      if ((Change.uChanged & LVIF_STATE) != 0 && ((Change.uNewState ^ Change.uOldState) & LVIS_SELECTED) != 0) {
        const int Selected = SelectedIndex();
        if (OnSelectionChange) GuardedCall([&] { OnSelectionChange(Selected); });
      }
      Result = 0;
      return true;
    }
    case NM_DBLCLK: {
      const auto& Click = reinterpret_cast<const NMITEMACTIVATE&>(Header);
      if (Click.iItem >= 0 && OnActivate) GuardedCall([&] { OnActivate(Click.iItem); });
      Result = 0;
      return true;
    }
    case NM_RETURN: {
      const int Row = FocusedIndex();
      if (Row >= 0 && OnActivate) GuardedCall([&] { OnActivate(Row); });
      Result = 0;
      return true;
    }
    case LVN_KEYDOWN: {
      const auto& Key = reinterpret_cast<const NMLVKEYDOWN&>(Header);
      if (OnKeyDown) GuardedCall([&] { OnKeyDown(Key.wVKey); });
      Result = 0;
      return true;
    }
    case NM_CUSTOMDRAW:
      return CustomDraw(const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(Header)), Result);
    default:
      return false;
  }
}

bool TListView::CustomDraw(NMLVCUSTOMDRAW& Draw, LRESULT& Result) {
  switch (Draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      Result = CDRF_NOTIFYITEMDRAW;
      return true;
    case CDDS_ITEMPREPAINT:
      Result = CDRF_NOTIFYSUBITEMDRAW;
      return true;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const int Row = static_cast<int>(Draw.nmcd.dwItemSpec);
      Draw.clrText = OnIsGrey && OnIsGrey(Row) ? ::GetSysColor(COLOR_GRAYTEXT) : ::GetSysColor(COLOR_WINDOWTEXT);
      HFONT Font = FontHandle();
      if (Draw.iSubItem == FFontColumn) {
        if (!FColumnFontHandle) {
          LOGFONTW Log{};
          Log.lfHeight = -Scale(FColumnFont.Height);
          Log.lfWeight = FColumnFont.Bold ? FW_BOLD : FW_NORMAL;
          Log.lfCharSet = DEFAULT_CHARSET;
          lstrcpynW(Log.lfFaceName, FColumnFont.Face.c_str(), LF_FACESIZE);
          FColumnFontHandle.reset(::CreateFontIndirectW(&Log));
        }
        if (FColumnFontHandle) Font = FColumnFontHandle.get();
      }
      ::SelectObject(Draw.nmcd.hdc, Font);
      Result = CDRF_NEWFONT;
      return true;
    }
    default:
      Result = CDRF_DODEFAULT;
      return true;
  }
}

}  // namespace nimbrel
