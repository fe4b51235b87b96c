// A standard list-view control in report view, for list pages: one selection, full-row select,
// rows of a fixed height scaled with the DPI, images from an icon collection, grey rows, a
// column in its own font, tips, and the explorer look. Text, images, greyness and tips come from
// callbacks, so rows hold no copies of the page's data. Main thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "base/icon_collection.h"
#include "widgets/control.h"

namespace nimbrel {

struct TListColumn {
  std::wstring Caption;
  int Width = 100;  // at 96 DPI; -1: the width the other columns leave
};

class TListView : public TControl {
 public:
  // OwnerData: the rows are only a count (SetRowCount); otherwise rows are inserted and deleted by
  // index, and the selection follows its row.
  TListView(TComponent* Owner, TControl* Parent, std::wstring Name, bool OwnerData = false);
  ~TListView() override;

  void SetColumns(const std::vector<TListColumn>& Columns);
  void SetColumnCaption(int Column, const std::wstring& Caption);
  [[nodiscard]] std::wstring ColumnCaption(int Column) const;
  // The column drawn in its own font (e.g. "Consolas"); -1 for none.
  void SetColumnFont(int Column, const TFontSpec& Font);
  // Every row DesignHeight high at 96 DPI.
  void SetRowHeight(int DesignHeight);
  // The images of column 0, DesignSize square at 96 DPI, taken from Images (which must outlive
  // the list) and kept up to date when it grows.
  void SetImages(TIconCollection* Images, int DesignSize = 16);

  [[nodiscard]] int RowCount() const;
  // Owner data. KeepScroll: the scroll position stays where it is.
  void SetRowCount(int Count, bool KeepScroll = false);
  void InsertRow(int Index);       // not owner data; Index >= RowCount() appends
  void DeleteRow(int Index);       // not owner data
  void Clear();
  // Repaints the rows with their current text and images.
  void RefreshRows();
  // Many rows inserted or deleted in a row: no drawing between BeginUpdate and EndUpdate (which
  // repaints once). Calls nest.
  void BeginUpdate();
  void EndUpdate();

  // -1 when no row is selected / focused.
  [[nodiscard]] int SelectedIndex() const;
  // Selects and focuses the row (-1: none), scrolled into view unless Scroll is false.
  void SetSelectedIndex(int Index, bool Scroll = true);
  [[nodiscard]] int FocusedIndex() const;

  std::function<std::wstring(int Row, int Column)> OnGetText;
  std::function<int(int Row)> OnGetImage;   // column 0; -1 for none
  std::function<bool(int Row)> OnIsGrey;    // drawn in the grey-text colour in every column
  std::function<std::wstring(int Row)> OnGetTip;
  // After every selection change, however made (mouse, keyboard, LVM_SETITEMSTATE); -1: none.
  std::function<void(int Row)> OnSelectionChange;
  // A double click on a row or Enter with a row focused.
  std::function<void(int Row)> OnActivate;
  // A key pressed in the list (virtual-key code).
  std::function<void(WORD Key)> OnKeyDown;
  // The context menu asked for by mouse or keyboard (Shift+F10, the context-menu key), at a
  // screen point.
  std::function<void(POINT Screen)> OnContextMenu;

  void UpdateLayout() override;

 protected:
  void WndProc(TMessage& Message) override;
  bool Notify(const NMHDR& Header, LRESULT& Result) override;

 private:
  void BuildImageList();
  void SyncImages();
  void FitColumns();
  bool CustomDraw(NMLVCUSTOMDRAW& Draw, LRESULT& Result);

  bool FOwnerData;
  std::vector<TListColumn> FColumns;
  int FFontColumn = -1;
  TFontSpec FColumnFont;
  TOwnedFont FColumnFontHandle;
  int FRowHeight = 0;
  int FImageSize = 16;
  TIconCollection* FImages = nullptr;
  HIMAGELIST FImageList = nullptr;
  int FImagesAdded = 0;
  int FUpdating = 0;
  std::wstring FTextBuffer;
};

// The picture of an icon at Width x Height: the icon drawn Size x Size, centred, the rest
// transparent. 32-bit ARGB pixels, top row first; transparent when the icon cannot be drawn.
std::vector<uint32_t> IconImage(HICON Icon, int Size, int Width, int Height);

}  // namespace nimbrel
