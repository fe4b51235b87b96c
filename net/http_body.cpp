// Response bodies to text, and form posts.
#include "net/http_body.h"

#include <windows.h>
#include <zlib.h>

#include "base/text.h"
#include "base/utf.h"

namespace nimbrel {

namespace {

constexpr std::size_t Utf8SampleBytes = 4000;
constexpr unsigned EucKrCodePage = 51949;
constexpr unsigned UnifiedHangulCodePage = 949;

wchar_t LowerAscii(wchar_t C) noexcept { return C >= L'A' && C <= L'Z' ? static_cast<wchar_t>(C + 32) : C; }

std::wstring_view Trim(std::wstring_view Text) {
  while (!Text.empty() && (Text.front() == L' ' || Text.front() == L'\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == L' ' || Text.back() == L'\t')) Text.remove_suffix(1);
  return Text;
}

std::wstring DecodeCodePage(std::string_view Bytes, unsigned CodePage) {
  if (Bytes.empty()) return {};
  const int Size = static_cast<int>(Bytes.size());
  const int Length = ::MultiByteToWideChar(CodePage, 0, Bytes.data(), Size, nullptr, 0);
  if (Length <= 0) return {};
  std::wstring Text(static_cast<size_t>(Length), L'\0');
  ::MultiByteToWideChar(CodePage, 0, Bytes.data(), Size, Text.data(), Length);
  return Text;
}

}  // namespace

std::wstring CharsetOfContentType(std::wstring_view ContentType) {
  size_t Start = ContentType.find(L';');
  while (Start != std::wstring_view::npos) {
    const size_t End = ContentType.find(L';', Start + 1);
    std::wstring_view Parameter = Trim(ContentType.substr(Start + 1, End == std::wstring_view::npos ? End : End - Start - 1));
    const size_t Equals = Parameter.find(L'=');
    if (Equals != std::wstring_view::npos) {
      std::wstring Name(Trim(Parameter.substr(0, Equals)));
      for (wchar_t& C : Name) C = LowerAscii(C);
      if (Name == L"charset") {
        std::wstring_view Value = Trim(Parameter.substr(Equals + 1));
        if (Value.size() >= 2 && Value.front() == L'"' && Value.back() == L'"') Value = Value.substr(1, Value.size() - 2);
        std::wstring Result(Value);
        for (wchar_t& C : Result) C = LowerAscii(C);
        return Result;
      }
    }
    Start = End;
  }
  return {};
}

std::optional<std::string> InflateGzip(std::string_view Source, std::size_t Limit) {
  z_stream Stream{};
  if (inflateInit2(&Stream, 31) != Z_OK) return std::nullopt;
  std::string Result;
  char Buffer[64 * 1024];
  Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Source.data()));
  Stream.avail_in = static_cast<uInt>(Source.size());
  int Status = Z_OK;
  bool Fits = true;
  while (Status == Z_OK) {
    Stream.next_out = reinterpret_cast<Bytef*>(Buffer);
    Stream.avail_out = sizeof(Buffer);
    Status = inflate(&Stream, Z_NO_FLUSH);
    const size_t Produced = sizeof(Buffer) - Stream.avail_out;
    if (Result.size() + Produced > Limit) {
      Fits = false;
      break;
    }
    Result.append(Buffer, Produced);
    // No progress possible: the input ended before the stream did.
    if (Status == Z_BUF_ERROR || (Status == Z_OK && Stream.avail_in == 0 && Produced == 0)) break;
  }
  inflateEnd(&Stream);
  if (!Fits || Status != Z_STREAM_END) return std::nullopt;
  return Result;
}

unsigned KoreanCodePage() noexcept {
  return ::IsValidCodePage(EucKrCodePage) ? EucKrCodePage : UnifiedHangulCodePage;
}

TDecodedBody DecodeBody(std::string_view Body, const std::wstring& DeclaredCharset, const std::wstring& DefaultCharset,
                        std::wstring_view ContentEncoding) {
  TDecodedBody Result;
  Result.Charset = DeclaredCharset.empty() ? DefaultCharset : DeclaredCharset;
  std::optional<std::string> Inflated;
  if (ContentEncoding == L"gzip") {
    Inflated = InflateGzip(Body);
    if (!Inflated) {
      Result.Text = Body.size() > MaxDecodedBody
                        ? L"The response body is larger than 16 MiB"
                        : L"The response body is not a valid gzip stream or inflates to more than 16 MiB";
      return Result;
    }
    Body = *Inflated;
  }
  if (Body.size() > MaxDecodedBody) {
    Result.Text = L"The response body is larger than 16 MiB";
    return Result;
  }
  if (DetectUtf8Sample(Body.substr(0, Utf8SampleBytes))) Result.Charset = L"utf-8";
  Result.Text = Result.Charset == L"utf-8" ? Utf8ToWide(Body) : DecodeCodePage(Body, KoreanCodePage());
  Result.Ok = true;
  return Result;
}

std::wstring FormPostText(const std::vector<std::wstring>& Lines, const std::wstring& Charset) {
  std::wstring Text;
  bool First = true;
  for (const std::wstring& Line : Lines) {
    const size_t Equals = Line.find(L'=');
    std::wstring Name;
    std::wstring Value = Line;
    if (Equals != std::wstring::npos && Equals > 0) {
      Name = Line.substr(0, Equals);
      Value = Line.substr(Equals + 1);
    }
    if (!First) Text += L'&';
    First = false;
    if (!Name.empty()) Text += UrlEncode(Name) + L"=";
    Text += Charset == L"utf-8" ? UrlEncode(Value) : UrlEncode(Value, UnifiedHangulCodePage);
  }
  return Text;
}

}  // namespace nimbrel
