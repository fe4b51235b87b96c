// The list-view wrapper and the stock pictures that the list pages share.
#include "widgets/list_view.h"

#include <gtest/gtest.h>

#include "widgets/stock_images.h"

namespace nimbrel {
namespace {

TEST(StockImages, EachPictureCoversItsMiddleAndLeavesCornersClear) {
  for (const TStockImage Image : {TStockImage::Document, TStockImage::Registry, TStockImage::Clock, TStockImage::Gears}) {
    for (const int Size : {16, 24, 32}) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(Image) << " at " << Size);
      const std::vector<uint32_t> Pixels = DrawStockImage(Image, Size);
      ASSERT_EQ(Pixels.size(), static_cast<size_t>(Size * Size));
      EXPECT_EQ(Pixels[0] >> 24, 0u) << "top-left corner transparent";
      EXPECT_EQ(Pixels[static_cast<size_t>(Size * Size - 1)] >> 24, 0u) << "bottom-right corner transparent";
      int Opaque = 0;
      for (uint32_t Pixel : Pixels) Opaque += (Pixel >> 24) == 255 ? 1 : 0;
      EXPECT_GT(Opaque, Size * Size / 5) << "a picture, not a speck";
      EXPECT_TRUE(MakeStockIcon(Image, Size).valid());
    }
  }
  // The four are different pictures.
  EXPECT_NE(DrawStockImage(TStockImage::Document, 16), DrawStockImage(TStockImage::Clock, 16));
  EXPECT_NE(DrawStockImage(TStockImage::Registry, 16), DrawStockImage(TStockImage::Gears, 16));
}

TEST(StockImages, AnIconKeepsItsTransparencyInTheListsPicture) {
  const TOwnedIcon Icon = MakeStockIcon(TStockImage::Clock, 16);
  const std::vector<uint32_t> Source = DrawStockImage(TStockImage::Clock, 16);
  const std::vector<uint32_t> Picture = IconImage(Icon.get(), 16, 16, 23);
  ASSERT_EQ(Picture.size(), 16u * 23u);
  const int Top = (23 - 16) / 2;
  EXPECT_EQ(Picture[0] >> 24, 0u) << "the band above the icon is clear";
  for (int Y = 0; Y < 16; ++Y) {
    for (int X = 0; X < 16; ++X) {
      const uint32_t Want = Source[static_cast<size_t>(Y * 16 + X)];
      const uint32_t Got = Picture[static_cast<size_t>((Top + Y) * 16 + X)];
      EXPECT_NEAR(static_cast<int>(Got >> 24), static_cast<int>(Want >> 24), 3) << X << "," << Y;
    }
  }
  EXPECT_EQ(IconImage(nullptr, 16, 16, 16), std::vector<uint32_t>(256, 0));
}

class ListViewTest : public testing::Test {
 protected:
  void SetUp() override {
    Host = std::make_unique<TPanel>(nullptr, nullptr, L"Host");
    Host->SetBounds(0, 0, 300, 300);
    List = Host->Create<TListView>(Host.get(), L"List");
    List->SetBounds(0, 0, 300, 300);
    List->SetColumns({{L"Name", -1}, {L"Loc", 60}});
    List->SetImages(&Images, 16);
    List->SetRowHeight(24);
    List->OnGetText = [this](int Row, int Column) { return Rows.at(static_cast<size_t>(Row)) + L"/" + std::to_wstring(Column); };
    List->OnSelectionChange = [this](int Row) { Selections.push_back(Row); };
  }
  void Add(const std::wstring& Row) {
    Rows.push_back(Row);
    List->InsertRow(static_cast<int>(Rows.size()));
  }
  std::wstring Text(int Row, int Column) {
    wchar_t Buffer[128] = {};
    LVITEMW Item{};
    Item.iSubItem = Column;
    Item.pszText = Buffer;
    Item.cchTextMax = 128;
    ::SendMessageW(List->Handle(), LVM_GETITEMTEXTW, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&Item));
    return Buffer;
  }

  TIconCollection Images;
  std::unique_ptr<TPanel> Host;
  TListView* List = nullptr;
  std::vector<std::wstring> Rows;
  std::vector<int> Selections;
};

TEST_F(ListViewTest, RowsAreTwentyFourPixelsAtTheDpiAndShowTheirCallbackText) {
  for (int I = 0; I < static_cast<int>(StockImageCount); ++I) {
    Images.Add(MakeStockIcon(static_cast<TStockImage>(I), List->Scale(16)), std::to_wstring(I));
  }
  Images.Changed();
  Add(L"a");
  Add(L"b");
  RECT Row{};
  Row.left = LVIR_BOUNDS;
  ASSERT_TRUE(::SendMessageW(List->Handle(), LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&Row)));
  EXPECT_EQ(Row.bottom - Row.top, List->Scale(24));
  EXPECT_EQ(Text(1, 0), L"b/0");
  EXPECT_EQ(Text(0, 1), L"a/1");
  EXPECT_EQ(List->ColumnCaption(1), L"Loc");
  List->SetColumnCaption(1, L"Origine");
  EXPECT_EQ(List->ColumnCaption(1), L"Origine");
  HIMAGELIST ImageList = ListView_GetImageList(List->Handle(), LVSIL_SMALL);
  EXPECT_EQ(ImageList_GetImageCount(ImageList), StockImageCount) << "the list's images follow the collection";
  const LONG_PTR Style = ::GetWindowLongPtrW(List->Handle(), GWL_STYLE);
  EXPECT_TRUE(Style & LVS_REPORT);
  EXPECT_TRUE(Style & LVS_SINGLESEL);
  EXPECT_TRUE(Style & WS_TABSTOP);
  EXPECT_TRUE(ListView_GetExtendedListViewStyle(List->Handle()) & LVS_EX_FULLROWSELECT);
  EXPECT_FALSE(ListView_GetExtendedListViewStyle(List->Handle()) & LVS_EX_TRACKSELECT);
}

TEST_F(ListViewTest, TheSelectionIsReportedHoweverMadeAndFollowsItsRow) {
  Add(L"a");
  Add(L"b");
  Add(L"c");
  LVITEMW State{};
  State.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  State.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(List->Handle(), LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&State));
  EXPECT_EQ(List->SelectedIndex(), 2);
  ASSERT_FALSE(Selections.empty());
  EXPECT_EQ(Selections.back(), 2);

  // Removing a row before it moves the selection with its row.
  Rows.erase(Rows.begin());
  List->DeleteRow(0);
  EXPECT_EQ(List->SelectedIndex(), 1);
  EXPECT_EQ(Text(1, 0), L"c/0");

  // Removing the selected row clears the selection.
  Rows.erase(Rows.begin() + 1);
  List->DeleteRow(1);
  EXPECT_EQ(List->SelectedIndex(), -1);
  EXPECT_EQ(Selections.back(), -1);

  // The keyboard moves it too.
  Add(L"d");
  List->SetSelectedIndex(0);
  ::SendMessageW(List->Handle(), WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(List->SelectedIndex(), 1);
  EXPECT_EQ(Selections.back(), 1);
}

}  // namespace
}  // namespace nimbrel
