// A synthetic monthly comic release-list page, as the shop writes it: some page
// markup, the list marker, then <li> entries of six fields each followed by two
// U+3000, until the page holds the requested number of UTF-16 units. With
// `markupPerEntry`, each entry is followed by about that many units of other markup.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

inline std::u16string SyntheticComicPage(std::size_t units, std::size_t markupPerEntry = 0) {
  static const char16_t* const kCompanies[] = {u"講談社", u"集英社", u"小学館", u"秋田書店",
                                               u"スクウェア・エニックス"};
  static const char16_t* const kTitles[] = {u"はじめの一歩\u3000第87巻", u"ONE PIECE 52",
                                            u"名探偵コナン 64", u"鋼の錬金術師 21", u"よつばと! 8"};
  static const char16_t* const kAuthors[] = {u"森川ジョージ", u"尾田栄一郎", u"青山剛昌", u"荒川弘",
                                             u"あずまきよひこ"};
  static const char16_t* const kMemos[] = {u"", u"初回限定版", u"", u"特装版", u""};
  const std::u16string separator = u"\u3000\u3000";
  const std::u16string end = u"</ul></td></tr></table>\n</body></html>\n";
  const std::u16string markup =
      u"<div class=\"note\"><img src=\"/img/new.gif\" alt=\"\">新刊のご案内です。</div>\n";

  std::u16string page =
      u"<html><head><title>新刊案内</title></head><body>\n"
      u"<p>全件を表示します。</p>\n<table><tr><td><ul>\n";
  // An entry is under 100 units; the page is padded with blanks up to its end.
  for (unsigned i = 0; page.size() + 100 + markupPerEntry + end.size() < units; ++i) {
    std::u16string entry = u"<li>12/";
    entry += static_cast<char16_t>(u'0' + (i / 10) % 3);
    entry += static_cast<char16_t>(u'0' + i % 10);
    entry += separator + kCompanies[i % 5] + separator + kTitles[(i / 5) % 5] + separator +
             kAuthors[(i / 5) % 5] + separator + u"\\" + static_cast<char16_t>(u'4' + i % 5) +
             u"20" + separator + kMemos[(i / 3) % 5] + separator + u"</li>\n";
    page += entry;
    for (std::size_t added = 0; added < markupPerEntry; added += markup.size()) page += markup;
  }
  page.resize(units - end.size(), u' ');
  page += end;
  return page;
}

}  // namespace bench
