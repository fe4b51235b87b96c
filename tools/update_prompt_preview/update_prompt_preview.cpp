// Shows the update prompt in a given language with a notice of a given style, for screenshots.
//   update_prompt_preview LANGUAGE STYLE [TEXT [URL]]   (STYLE: hold, note, other, or none)
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "locale/translate.h"
#include "base/text.h"
#include "update/update_prompt.h"
#include "widgets/application.h"
#include "widgets/control.h"

int wmain(int Argc, wchar_t** Argv) {
  using namespace nimbrel;
  INITCOMMONCONTROLSEX Controls{sizeof(Controls), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&Controls);
  const std::wstring Language = Argc > 1 ? Argv[1] : L"en";
  const std::wstring Style = Argc > 2 ? Argv[2] : L"none";
  const std::wstring Text = Argc > 3 ? Argv[3] : L"Do not show this again for this version";
  const std::wstring Url = Argc > 4 ? Argv[4] : L"https://www.nimbrel.example/news";
  LoadTranslation();
  SetCurrentLanguage(Language);
  Application().SetTitle(L"Nimbrel");
  std::wstring Answer = L"{\"update\":\"https://www.nimbrel.example/download\"";
  if (Style != L"none")
    Answer += L",\"info\":{\"style\":\"" + JsonEscape(Style) + L"\",\"text\":\"" + JsonEscape(Text) +
              L"\",\"flag\":\"\",\"url\":\"" + JsonEscape(Url) + L"\"}";
  Answer += L"}";
  ShowUpdatePrompt(nullptr, Answer);
  return 0;
}
