// Generated HTML pages for the tokenizer's and formatter's tests, fuzz seeds and benchmark: a
// head with scripts and styles, then nested blocks, tables, lists, forms, inline markup, pre
// blocks, comments and references, picked at random from a seed.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace korva::testing {

// A page of at least `size` characters (it ends the document after the last fragment). With
// `oneLine` there is no line break anywhere, as in pages that are sent minified.
inline std::u16string makeHtmlPage(std::uint64_t seed, std::size_t size, bool oneLine) {
  static const char* const kFragments[] = {
      "<div class=\"row\"><div class=\"cell\"><a href=\"/a?x=1&amp;y=2\">Eintrag</a> <span>"
      "Text</span></div></div>",
      "<p>Ein <b>fetter</b> und <i>schräger</i> Satz mit &auml; &#228; &#xE4; und a &lt; b.</p>",
      "<ul class=nav><li><a href=/>Start</a></li><li><a href=/b>Suche</a><li>Offen</ul>",
      "<table><thead><tr><th>Name</th><th>Preis</th></tr></thead><tbody><tr><td>Brot</td>"
      "<td>2,50</td></tr><tr><td><img src=x.png alt='Bild'></td><td><br></td></tr></tbody>"
      "</table>",
      "<form action=\"/suche\" method=post><input type=text name=q value=\"a > b\"><select>"
      "<option>1<option selected>2</select><button>Los</button></form>",
      "<!-- Kommentar mit <div> und -- darin --><!--x-->",
      "<pre>  vor\n<b>formatiert</b>  </pre><textarea name=t>\n<b>roh</b></textarea>",
      "<script>var s = '</div>'; if (a < b && c > d) { f(\"<p>\"); } // Ende\n</script>",
      "<style>.a > .b { content: \"</p>\"; } /* <div> */</style>",
      "<section><h2>Titel</h2><article><header>Kopf</header><p>Absatz<br>Zeile</p><hr>"
      "<footer>Fuß</footer></article></section>",
      "<div><p>offen<div>ohne Ende</div></div>",
      "<span><em>a</em><strong>b</strong><code>c</code></span>",
      "<dl><dt>Begriff<dd>Erklärung</dl><blockquote><p>Zitat</blockquote>",
      "</div></p></li>",
      "<noscript><p>Ohne Skript</p></noscript><iframe src=x><b>alt</b></iframe>",
  };
  std::mt19937_64 rng(seed);
  std::string page =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Seite &amp; Titel</title>"
      "<link rel=stylesheet href=a.css><script src=\"x.js\"></script></head><body>";
  const std::size_t count = sizeof kFragments / sizeof kFragments[0];
  while (page.size() < size) {
    const char* fragment = kFragments[rng() % count];
    for (const char* c = fragment; *c; ++c) {
      if (oneLine && *c == '\n') continue;
      page += *c;
    }
    if (!oneLine && rng() % 3 == 0) page += rng() % 2 ? "\n" : "\n  ";
  }
  page += "</body></html>";
  // The umlauts are UTF-8 here; the page is Latin-1 text in UTF-16, one unit per byte.
  std::u16string text(page.size(), u' ');
  for (std::size_t k = 0; k < page.size(); ++k) text[k] = static_cast<unsigned char>(page[k]);
  return text;
}

}  // namespace korva::testing
