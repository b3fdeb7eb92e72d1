#include "page_builder.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace korva {
namespace {

constexpr std::int64_t kMinPad = 16;  // a fragment is only placed if this much room stays after it
constexpr int kMaxPadLine = 320;
constexpr const char* kCrLf = "\r\n";

// Words are kept in UTF-8 here and converted once per charset when the pools are built.
const char* const kNouns[] = {
    "Angebot",     "Artikel",       "Übersicht",      "Bestellung",    "Größe",
    "Warenkorb",   "Kundenservice", "Öffnungszeiten", "Straße",        "Lieferung",
    "Zahlung",     "Rückgabe",      "Produkt",        "Kategorie",     "Nachrichten",
    "Wetter",      "Börse",         "Sport",          "Politik",       "Kultur",
    "Reise",       "Hotel",         "Preis",          "Gutschein",     "Anmeldung",
    "Konto",       "Passwort",      "Datenschutz",    "Impressum",     "Kontakt",
    "Startseite",  "Suche",         "Ergebnis",       "Seite",         "Bericht",
    "Märkte",      "Gemüse",        "Bäckerei",       "Müller",        "Schröder",
    "Jürgen",      "Zürich",        "München",        "Köln",          "Düsseldorf",
    "Information", "Download",      "Version",        "Update",        "Server",
    "Forum",       "Beitrag",       "Antwort",        "Thema",         "Galerie",
    "Bild",        "Video",         "Termin",         "Veranstaltung", "Café",
    "Résumé",      "Newsletter",    "Shop",           "Home",          "News",
    "Service",     "Support",       "Account",        "Login",         "Fußball",
    "Ärztin",      "Übernachtung",
};
const char* const kWords[] = {
    "und",       "oder",        "für",      "über",        "mit",        "bei",       "nach",
    "vom",       "zum",         "der",      "die",         "das",        "ein",       "eine",
    "ist",       "sind",        "wird",     "werden",      "können",     "müssen",    "schön",
    "günstig",   "schnell",     "neu",      "aktuell",     "heute",      "morgen",    "jetzt",
    "hier",      "alle",        "weitere",  "mehr",        "weniger",    "groß",      "klein",
    "täglich",   "wöchentlich", "bequem",   "sicher",      "kostenlos",  "ab",        "bis",
    "zu",        "im",          "am",       "auf",         "the",        "and",       "of",
    "for",       "with",        "new",      "best",        "free",       "online",    "more",
    "price",     "order",       "now",      "today",       "fast",       "ähnliche",  "zurück",
    "weiter",    "bestätigt",   "geöffnet", "geschlossen", "erhältlich", "verfügbar", "häufig",
    "natürlich",
};
const char* const kHosts[] = {
    "www.example.org",    "shop.example.com",           "news.beispiel.de",
    "www.mueller-bau.de", "intranet.firma.local:8080",  "www.stadtwerke-musterstadt.de",
    "forum.example.net",  "www.reisebuero-sonne.de",    "wiki.example.org",
    "portal.kunde.de",    "www.baeckerei-schroeder.de", "cdn.example.com",
    "login.example.com",  "www.wetter-aktuell.de",      "blog.example.net",
    "10.0.0.17",
};
const char* const kSlugs[] = {
    "angebote", "sommer-sale",    "neuheiten",     "kontakt", "anfahrt",
    "preise",   "team",           "karriere",      "faq",     "versand",
    "produkte", "gebrauchtwagen", "ferienwohnung", "rezepte", "termine",
};
const char* const kJsLines[] = {
    "  var pageId = 4711;",
    "  document.getElementById('teaser').style.display = 'none';",
    "  function toggle(id) { var e = document.getElementById(id); e.style.display = "
    "(e.style.display == 'none') ? 'block' : 'none'; }",
    "  window.onload = function() { init(); };",
    "  if (navigator.userAgent.indexOf('MSIE') != -1) { document.write('<link rel=\"stylesheet\" "
    "href=\"/css/ie.css\">'); }",
    "  var _gaq = _gaq || []; _gaq.push(['_setAccount', 'UA-123456-1']); "
    "_gaq.push(['_trackPageview']);",
    "  // Zähler für die Besucherstatistik",
    "  for (var i = 0; i < items.length; i++) { total += items[i].preis; }",
    "  var msg = \"Ihre Bestellung wurde übermittelt.\";",
    "  if (a < b && c > d) { swap(a, c); }",
    "  $(document).ready(function() { $('.slider').show(); });",
    "  document.cookie = 'consent=1; path=/; max-age=31536000';",
    "  /* alte Version: document.write('<div>Werbung</div>'); */",
    "  var html = '<!-- kein Kommentar, nur ein String -->';",
    "  setTimeout(function() { location.reload(); }, 300000);",
};
const char* const kMinified[] = {
    "function a(b,c){return b+c}",
    "var d=document.getElementById(\"nav\");",
    "if(d){d.innerHTML=\"<ul class=\\\"m\\\"><li>\"+e+\"</li></ul>\"}",
    "for(var i=0,n=q.length;i<n;i++){q[i].className+=\" aktiv\"}",
    "window.addEventListener(\"scroll\",function(){h.style.top=window.pageYOffset+\"px\"},!1);",
    "var t={de:\"Übersicht\",en:\"Overview\"};",
    "try{localStorage.setItem(\"k\",JSON.stringify(o))}catch(x){}",
    "e.prototype.render=function(){return\"<div>\"+this.v+\"</div>\"};",
    "!function(f){f.fn.slide=function(o){return this.each(function(){})}}(jQuery);",
};

void addLines(std::string& out, std::initializer_list<std::string_view> lines) {
  for (auto line : lines) {
    out.append(line);
    out.append(kCrLf);
  }
}

std::string hexColor(Rng& rng) {
  static const char kHex[] = "0123456789abcdef";
  std::string s = "#";
  for (int i = 0; i < 6; ++i) s += kHex[rng.below(16)];
  return s;
}

std::string hexToken(Rng& rng, int n) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < n; ++i) s += kHex[rng.below(16)];
  return s;
}

std::string num(std::int64_t v) { return std::to_string(v); }

// Builds the markup of one charset; only used while the pools are set up.
class Composer {
 public:
  Composer(Rng& rng, const std::vector<std::string>& nouns, const std::vector<std::string>& words,
           Charset cs)
      : rng_(rng), nouns_(nouns), words_(words), cs_(cs) {}

  std::string noun() { return nouns_[rng_.below(nouns_.size())]; }
  std::string word() { return rng_.chance(0.3) ? noun() : words_[rng_.below(words_.size())]; }
  std::string words(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      if (i) s += ' ';
      s += word();
    }
    return s;
  }
  std::string title(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      if (i) s += ' ';
      s += noun();
    }
    return s;
  }
  // Plain sentence with a few typographic characters that need the charset.
  std::string sentence() {
    std::string s = noun();
    const int n = static_cast<int>(rng_.range(4, 15));
    for (int i = 0; i < n; ++i) {
      s += ' ';
      const auto r = rng_.below(100);
      if (r < 3) {
        s += num(rng_.range(1, 999)) + "," + num(rng_.range(10, 99)) + " " + conv("€");
      } else if (r < 5) {
        s += conv("„") + noun() + conv("“");
      } else if (r < 6) {
        s += conv("–");
      } else {
        s += word();
      }
    }
    static const char* const kEnds[] = {".", ".", ".", "!", "?", "…"};
    s += conv(rng_.pick(kEnds));
    return s;
  }
  std::string url() {
    std::string u;
    if (rng_.chance(0.4)) u = std::string("http://") + rng_.pick(kHosts);
    u += "/" + std::string(rng_.pick(kSlugs));
    if (rng_.chance(0.5)) u += "/" + num(rng_.range(1, 99999)) + ".html";
    if (rng_.chance(0.3)) u += "?id=" + num(rng_.range(1, 9999)) + "&amp;ref=start";
    return u;
  }
  std::string link() {
    return "<a href=\"" + url() + "\">" + words(static_cast<int>(rng_.range(1, 4))) + "</a>";
  }
  std::string image() {
    std::string s = rng_.chance(0.15) ? "<IMG SRC=\"" : "<img src=\"";
    s += "/images/" + std::string(rng_.pick(kSlugs)) + "_" + num(rng_.range(1, 500));
    s += rng_.chance(0.7) ? ".jpg\"" : ".gif\"";
    s += " alt=\"" + words(static_cast<int>(rng_.range(1, 4))) + "\"";
    s += " width=\"" + num(rng_.range(16, 640)) + "\" height=\"" + num(rng_.range(16, 480)) + "\"";
    if (rng_.chance(0.4))
      s += " style=\"float:left;margin:4px 8px 4px 0;border:1px solid " + hexColor(rng_) + "\"";
    if (rng_.chance(0.3)) s += " border=\"0\"";
    s += ">";
    return s;
  }

  std::string paragraph() {
    std::string s = rng_.chance(0.2) ? "<p class=\"text\">" : "<p>";
    const auto target = static_cast<std::size_t>(rng_.range(60, 700));
    while (s.size() < target) {
      s += sentence();
      const auto r = rng_.below(100);
      if (r < 25) {
        s += ' ' + link();
      } else if (r < 35) {
        s += " <b>" + words(2) + "</b>";
      } else if (r < 42) {
        s += " <span style=\"color:" + hexColor(rng_) + ";font-weight:bold\">" + words(3) +
             "</span>";
      } else if (r < 48) {
        s += "<br>";
      } else if (r < 52) {
        s += "&nbsp;";
      }
      s += ' ';
    }
    s.pop_back();
    s += "</p>";
    return rng_.chance(0.35) ? wrap(s) : s + kCrLf;
  }

  // Breaks long text at blanks, as hand-written pages often are.
  std::string wrap(const std::string& text) {
    std::string out;
    std::size_t col = 0;
    const std::size_t width = static_cast<std::size_t>(rng_.range(70, 110));
    for (char c : text) {
      if (c == ' ' && col >= width) {
        out += kCrLf;
        col = 0;
        continue;
      }
      out += c;
      ++col;
    }
    out += kCrLf;
    return out;
  }

  std::string heading() {
    const auto level = num(rng_.range(1, 4));
    std::string s = "<h" + level + (rng_.chance(0.3) ? " class=\"titel\">" : ">");
    return s + title(static_cast<int>(rng_.range(1, 5))) + "</h" + level + ">" + kCrLf;
  }

  std::string table() {
    std::string s;
    const bool old = rng_.chance(0.25);
    s += old ? "<TABLE BORDER=1 CELLSPACING=0 CELLPADDING=2 WIDTH=\"100%\">"
             : "<table class=\"liste\" style=\"border-collapse:collapse;width:100%\" "
               "cellpadding=\"2\">";
    s += kCrLf;
    const int cols = static_cast<int>(rng_.range(2, 5));
    const int rows = static_cast<int>(rng_.range(2, 14));
    const bool cellLines = rng_.chance(0.3);
    if (rng_.chance(0.7)) {
      s += "<tr>";
      for (int c = 0; c < cols; ++c) s += "<th>" + noun() + "</th>";
      s += "</tr>";
      s += kCrLf;
    }
    for (int r = 0; r < rows; ++r) {
      s += (r % 2 && rng_.chance(0.5)) ? "<tr style=\"background:#f0f0f0\">" : "<tr>";
      if (cellLines) s += kCrLf;
      for (int c = 0; c < cols; ++c) {
        if (cellLines) s += "  ";
        s += "<td style=\"padding:2px 6px\">";
        const auto k = rng_.below(4);
        if (k == 0) {
          s += num(rng_.range(1, 99999));
        } else if (k == 1) {
          s += num(rng_.range(1, 999)) + "," + num(rng_.range(10, 99)) + "&nbsp;" + conv("€");
        } else if (k == 2) {
          s += link();
        } else {
          s += words(static_cast<int>(rng_.range(1, 6)));
        }
        s += "</td>";
        if (cellLines) s += kCrLf;
      }
      s += "</tr>";
      s += kCrLf;
    }
    s += old ? "</TABLE>" : "</table>";
    s += kCrLf;
    return s;
  }

  std::string list() {
    const bool ordered = rng_.chance(0.25);
    std::string s = ordered ? "<ol>" : "<ul class=\"nav\">";
    s += kCrLf;
    const int n = static_cast<int>(rng_.range(3, 12));
    for (int i = 0; i < n; ++i) s += "  <li>" + link() + "</li>" + kCrLf;
    s += ordered ? "</ol>" : "</ul>";
    s += kCrLf;
    return s;
  }

  std::string imageBlock() {
    const auto r = rng_.below(3);
    if (r == 0) return image() + kCrLf;
    if (r == 1) return "<a href=\"" + url() + "\">" + image() + "</a>" + kCrLf;
    return "<p align=\"center\">" + image() + "<br>" + words(3) + "</p>" + kCrLf;
  }

  std::string jsBody(int lines) {
    std::string s;
    for (int i = 0; i < lines; ++i) s += conv(rng_.pick(kJsLines)) + kCrLf;
    return s;
  }

  std::string scriptSrc() {
    const std::string src =
        (rng_.chance(0.5) ? "/js/" : std::string("http://") + rng_.pick(kHosts) + "/js/") +
        std::string(rng_.pick(kSlugs)) + (rng_.chance(0.3) ? ".min.js" : ".js") +
        (rng_.chance(0.2) ? "?v=" + num(rng_.range(1, 300)) : "");
    switch (rng_.below(5)) {
      case 0:
        return "<script src=\"" + src + "\"></script>" + kCrLf;
      case 1:
        return "<script type=\"text/javascript\" src=\"" + src + "\"></script>" + kCrLf;
      case 2:
        return "<SCRIPT SRC=\"" + src + "\"></SCRIPT>" + kCrLf;
      case 3:
        return "<script async src=\"" + src + "\"></script>" + kCrLf;
      default:
        return "<Script Language=\"JavaScript\" src=\"" + src + "\" defer></Script>" + kCrLf;
    }
  }

  std::string inlineScript() {
    const int n = static_cast<int>(rng_.range(1, 8));
    switch (rng_.below(6)) {
      case 0:
        return "<script type=\"text/javascript\">" + std::string(kCrLf) + jsBody(n) + "</script>" +
               kCrLf;
      case 1:  // the old habit of hiding scripts from browsers without JavaScript
        return "<SCRIPT LANGUAGE=\"JavaScript\">" + std::string(kCrLf) + "<!--" + kCrLf +
               jsBody(n) + "//-->" + kCrLf + "</SCRIPT>" + kCrLf;
      case 2:
        return "<Script>var _q = _q || []; _q.push(['track', '" + hexToken(rng_, 8) +
               "']);</Script>" + kCrLf;
      case 3:
        return "<script>" + std::string(kCrLf) + "  document.write('<scr'+'ipt src=\"/js/" +
               rng_.pick(kSlugs) + ".js\"></scr'+'ipt>');" + kCrLf + "</script>" + kCrLf;
      case 4:
        return "<script type=\"text/javascript\">" + std::string(kCrLf) + jsBody(n) + "</SCRIPT>" +
               kCrLf;
      default:
        return "<script language=\"javascript\">if (x < 3 && y > 1) { z = '<b>' + x + '</b>'; "
               "}</script>" +
               std::string(kCrLf);
    }
  }

  std::string comment() {
    switch (rng_.below(8)) {
      case 0:
        return "<!-- " + words(static_cast<int>(rng_.range(1, 6))) + " -->" + kCrLf;
      case 1:
        return "<!-- begin: " + noun() + " -->" + kCrLf;
      case 2:
        return "<!-- end: " + noun() + " -->" + kCrLf;
      case 3: {
        std::string s = "<!--";
        s += kCrLf;
        for (int i = static_cast<int>(rng_.range(1, 4)); i > 0; --i) s += "  " + sentence() + kCrLf;
        return s + "-->" + kCrLf;
      }
      case 4:
        return "<!--[if lt IE 9]><script src=\"/js/html5shiv.js\"></script><![endif]-->" +
               std::string(kCrLf);
      case 5:
        return "<!-- ----------------------------------------------------------- -->" +
               std::string(kCrLf);
      case 6:
        return "<!-- <p>" + words(4) + "</p> -->" + kCrLf;
      default:
        return "<!--" + std::string(kCrLf) + "<script type=\"text/javascript\">alt();</script>" +
               kCrLf + "-->" + kCrLf;
    }
  }

  std::string form() {
    std::string s = "<form action=\"/suche\" method=\"" +
                    std::string(rng_.chance(0.6) ? "get" : "post") + "\" style=\"margin:0\">" +
                    kCrLf;
    s += "  <input type=\"text\" name=\"q\" size=\"30\" value=\"\">" + std::string(kCrLf);
    if (rng_.chance(0.6)) {
      s += "  <select name=\"kat\">";
      for (int i = static_cast<int>(rng_.range(2, 6)); i > 0; --i)
        s += "<option value=\"" + num(i) + "\">" + noun() + "</option>";
      s += "</select>";
      s += kCrLf;
    }
    s += "  <input type=\"submit\" value=\"Suchen\">" + std::string(kCrLf) + "</form>" + kCrLf;
    return s;
  }

  std::string div() {
    std::string s =
        "<div class=\"box\" style=\"margin:8px 0;padding:6px;background:" + hexColor(rng_) +
        ";border:1px solid " + hexColor(rng_) + "\">" + kCrLf;
    for (int i = static_cast<int>(rng_.range(1, 3)); i > 0; --i) s += paragraph();
    return s + "</div>" + kCrLf;
  }

  std::string blank() {
    static const char* const kBlanks[] = {"", "", "\t", "    ", "\t\t"};
    return std::string(rng_.pick(kBlanks)) + kCrLf;
  }

  // Hyphen rulers of 46 and 48 characters and one of 47 plus blanks: none of them is a divider.
  std::string pre() {
    std::string s = "<pre>";
    s += kCrLf;
    s += std::string(46, '-') + kCrLf;
    for (int i = static_cast<int>(rng_.range(1, 5)); i > 0; --i)
      s += noun() + std::string(static_cast<std::size_t>(rng_.range(1, 20)), ' ') +
           num(rng_.range(1, 99999)) + kCrLf;
    s += std::string(48, '-') + kCrLf;
    if (rng_.chance(0.5)) s += std::string(47, '-') + "  " + kCrLf;
    return s + "</pre>" + kCrLf;
  }

  std::string navLine() {
    std::string s = rng_.chance(0.5) ? "<div id=\"nav\">" : "";
    const bool div = !s.empty();
    for (int i = static_cast<int>(rng_.range(3, 10)); i > 0; --i) {
      s += "<a href=\"/" + std::string(rng_.pick(kSlugs)) + "\">" + noun() + "</a>";
      if (i > 1) s += " | ";
    }
    if (div) s += "</div>";
    return s + kCrLf;
  }

  std::string longScript() {
    std::string s = "<script type=\"text/javascript\">";
    const auto target = static_cast<std::size_t>(rng_.range(2000, 30000));
    while (s.size() < target) s += conv(rng_.pick(kMinified));
    return s + "</script>" + kCrLf;
  }

  std::string proseText(std::size_t bytes) {
    std::string s;
    while (s.size() < bytes) s += sentence() + ' ';
    return s;
  }

  std::string conv(const char* utf8) const { return toCharset(utf8, cs_); }

 private:
  Rng& rng_;
  const std::vector<std::string>& nouns_;
  const std::vector<std::string>& words_;
  Charset cs_;
};

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string toCharset(const std::string& utf8, Charset cs) {
  if (cs == Charset::kUtf8) return utf8;
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = c;
    int len = 1;
    if (c >= 0xF0) {
      len = 4;
    } else if (c >= 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if (c >= 0xC0) {
      cp = c & 0x1F;
      len = 2;
    }
    if (len > 1) {
      for (int k = 1; k < len && i + k < utf8.size(); ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += static_cast<std::size_t>(len);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    switch (cp) {
      case 0x20AC:
        out += '\x80';
        break;  // €
      case 0x201E:
        out += '\x84';
        break;  // „
      case 0x2026:
        out += '\x85';
        break;  // …
      case 0x2013:
        out += '\x96';
        break;  // –
      case 0x201C:
        out += '\x93';
        break;  // “
      case 0x201D:
        out += '\x94';
        break;  // ”
      default:
        out += '?';
    }
  }
  return out;
}

PageBuilder::PageBuilder(std::uint64_t seed) {
  // Kind weights out of 256; large pages also get long one-line scripts.
  static const int kWeights[kKindCount] = {70, 18, 20, 20, 16, 16, 8, 20, 6, 24, 14, 4, 20, 0};
  int k = 0;
  for (int kind = 0; kind < kKindCount; ++kind)
    for (int i = 0; i < kWeights[kind]; ++i) smallTable_[k++] = static_cast<unsigned char>(kind);
  std::memcpy(bigTable_, smallTable_, sizeof bigTable_);
  for (int i = 0; i < 6; ++i) bigTable_[i] = kLongScript;  // taken from the paragraph share

  for (int c = 0; c < 2; ++c) {
    const Charset cs = c == 0 ? Charset::kUtf8 : Charset::kWindows1252;
    Pools& p = pools_[c];
    for (const char* w : kNouns) p.nouns.push_back(toCharset(w, cs));
    for (const char* w : kWords) p.words.push_back(toCharset(w, cs));
    Rng rng(seed ^ (0xA5A5A5A5ULL + static_cast<std::uint64_t>(c)));
    Composer m(rng, p.nouns, p.words, cs);
    for (int kind = 0; kind < kKindCount; ++kind) {
      const int count = kind == kLongScript ? 24 : 256;
      auto& items = p.fragments[kind];
      for (int i = 0; i < count; ++i) {
        switch (kind) {
          case kParagraph:
            items.push_back(m.paragraph());
            break;
          case kHeading:
            items.push_back(m.heading());
            break;
          case kTable:
            items.push_back(m.table());
            break;
          case kList:
            items.push_back(m.list());
            break;
          case kImage:
            items.push_back(m.imageBlock());
            break;
          case kInlineScript:
            items.push_back(m.inlineScript());
            break;
          case kScriptSrc:
            items.push_back(m.scriptSrc());
            break;
          case kComment:
            items.push_back(m.comment());
            break;
          case kForm:
            items.push_back(m.form());
            break;
          case kDiv:
            items.push_back(m.div());
            break;
          case kBlank:
            items.push_back(m.blank());
            break;
          case kPre:
            items.push_back(m.pre());
            break;
          case kNavLine:
            items.push_back(m.navLine());
            break;
          default:
            items.push_back(m.longScript());
            break;
        }
      }
    }
    p.prose = m.proseText(48 * 1024);
  }
}

RequestInfo PageBuilder::makeRequest(Rng& rng, bool uniform) const {
  RequestInfo info;
  std::string method;
  if (uniform) {
    method = rng.chance(0.85) ? "GET" : "POST";
  } else {
    const auto m = rng.below(100);  // roughly the mix a browsing proxy sees
    method = m < 82   ? "GET"
             : m < 94 ? "POST"
             : m < 96 ? "HEAD"
             : m < 98 ? "PUT"
             : m < 99 ? "DELETE"
                      : "OPTIONS";
  }
  info.host = rng.pick(kHosts);
  info.charset = rng.chance(0.55) ? Charset::kUtf8 : Charset::kWindows1252;

  std::string& t = info.text;
  t.reserve(128);
  t = method + (rng.chance(0.85) ? " http://" : " https://") + info.host;
  switch (rng.below(12)) {
    case 0:
      t += "/";
      break;
    case 1:
      t += "/index.html";
      break;
    case 2:
      t += "/shop/item";
      break;
    case 3:
      t += "/shop/kategorie/" + num(rng.range(1, 400));
      break;
    case 4:
      t += "/produkte/" + std::string(rng.pick(kSlugs)) + "-" + num(rng.range(1, 99999)) + ".html";
      break;
    case 5:
      t += "/news/20" + num(rng.range(10, 24)) + "/" + num(rng.range(10, 12)) + "/" +
           rng.pick(kSlugs) + "-" + num(rng.range(1, 9999)) + ".html";
      break;
    case 6:
      t += "/suche";
      break;
    case 7:
      t += "/cgi-bin/view.pl";
      break;
    case 8:
      t += "/forum/viewtopic.php";
      break;
    case 9:
      t += "/de/service/" + std::string(rng.pick(kSlugs));
      break;
    case 10:
      t += "/wiki/" + std::string(rng.pick(kSlugs));
      break;
    default:
      t += "/Default.aspx";
      break;
  }
  if (rng.chance(0.55)) {
    static const char* const kParams[] = {"id=",  "lang=de",  "page=", "sort=preis",
                                          "kat=", "ref=home", "t="};
    const int n = static_cast<int>(rng.range(1, 5));
    for (int i = 0; i < n; ++i) {
      t += i ? '&' : '?';
      const std::string p = rng.pick(kParams);
      t += p;
      if (p.back() == '=') t += num(rng.range(1, 1999999999));
    }
  }
  const auto extra = rng.below(1000);
  if (extra < 50) {  // a search word as raw bytes, as some clients send them
    const Charset qcs = rng.chance(0.5) ? Charset::kUtf8 : Charset::kWindows1252;
    t += t.find('?') == std::string::npos ? "?q=" : "&q=";
    t += toCharset(rng.pick(kNouns), qcs);
  } else if (extra < 90) {
    t += t.find('?') == std::string::npos ? "?q=" : "&q=";
    t += rng.chance(0.5) ? "M%C3%BCller" : "Gr%F6%DFe";
  } else if (extra < 100) {  // long query strings: session blobs and form fields
    t += t.find('?') == std::string::npos ? "?" : "&";
    if (rng.chance(0.5)) {
      t += "data=";
      static const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
      for (auto n = rng.range(1000, 8000); n > 0; --n) t += kB64[rng.below(64)];
    } else {
      for (int i = static_cast<int>(rng.range(50, 300)); i > 0; --i)
        t += "f" + num(i) + "=" + hexToken(rng, static_cast<int>(rng.range(1, 12))) +
             (i > 1 ? "&" : "");
    }
  }
  t += rng.chance(0.95) ? " HTTP/1.1" : " HTTP/1.0";

  if (uniform) return info;
  if (method == "HEAD" || method == "OPTIONS") {
    info.page = PageKind::kNone;
    return info;
  }
  const auto r = rng.below(1000);
  if (r < 20 && method == "GET") {
    info.status = 304;
    info.page = PageKind::kNone;
  } else if (r < 45) {
    info.status = 302;
    info.page = PageKind::kRedirect;
  } else if (r < 75) {
    info.status = 404;
    info.page = PageKind::kError;
  } else if (r < 83) {
    info.status = 500;
    info.page = PageKind::kError;
  }
  return info;
}

std::int64_t PageBuilder::fixedBodySize(const RequestInfo& request, Rng& rng) const {
  switch (request.page) {
    case PageKind::kNone:
      return 0;
    case PageKind::kRedirect:
      return rng.range(260, 520);
    case PageKind::kError:
      return rng.range(420, 1400);
    default:
      return -1;
  }
}

std::string PageBuilder::documentHead(const RequestInfo& request, Rng& rng) const {
  const Pools& p = pools(request.charset);
  const bool utf8 = request.charset == Charset::kUtf8;
  std::string s;
  s.reserve(1400);
  static const char* const kDoctypes[] = {
      "<!DOCTYPE html>", "<!doctype html>",
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
      "\"http://www.w3.org/TR/html4/loose.dtd\">",
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">"};
  static const char* const kHtml[] = {
      "<html lang=\"de\">", "<html>", "<HTML>",
      "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"de\">"};
  static const char* const kUtf8Meta[] = {
      "<meta charset=\"utf-8\">",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">"};
  static const char* const kCp1252Meta[] = {
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">",
      "<meta charset=\"windows-1252\">",
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=iso-8859-1\">"};
  const auto noun = [&] { return p.nouns[rng.below(p.nouns.size())]; };
  const std::string title = noun() + " " + noun();

  addLines(s, {rng.pick(kDoctypes), rng.pick(kHtml), "<head>"});
  if (rng.chance(0.97)) addLines(s, {utf8 ? rng.pick(kUtf8Meta) : rng.pick(kCp1252Meta)});
  if (rng.chance(0.4))
    addLines(s, {"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"});
  s += "<title>" + title + " - " + request.host + "</title>" + kCrLf;
  if (rng.chance(0.3))
    s += "<meta name=\"description\" content=\"" + noun() + ", " + noun() + " und " + noun() +
         "\">" + kCrLf;
  if (rng.chance(0.8))
    addLines(s, {"<link rel=\"stylesheet\" type=\"text/css\" href=\"/css/site.css\">"});
  for (auto n = rng.below(4); n > 0; --n) {
    const auto& src = p.fragments[kScriptSrc];
    s += src[rng.below(src.size())];
  }
  if (rng.chance(0.4)) {
    addLines(s, {"<style type=\"text/css\">",
                 "  body { font-family: Verdana, Arial, sans-serif; font-size: 13px; margin: 0; }",
                 "  #page { width: 960px; margin: 0 auto; }",
                 "  a { color: #0645ad; text-decoration: none; }",
                 "  .box { border: 1px solid #ccc; padding: 8px; }", "</style>"});
  }
  if (rng.chance(0.35)) {
    const auto& js = p.fragments[kInlineScript];
    s += js[rng.below(js.size())];
  }
  static const char* const kBody[] = {
      "<body>", "<body style=\"margin:0;padding:0;background-color:#f4f4f4\">",
      "<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#000000\">", "<body class=\"startseite\">"};
  addLines(s, {"</head>", rng.pick(kBody), "<div id=\"page\">"});
  if (rng.chance(0.7)) {
    s += "<div id=\"header\"><a href=\"/\"><img src=\"/images/logo.gif\" alt=\"" + request.host +
         "\" width=\"180\" height=\"60\" border=\"0\"></a></div>" + kCrLf;
  }
  s += "<h1>" + title + "</h1>" + kCrLf;
  return s;
}

std::string PageBuilder::documentTail(const RequestInfo& request, Rng& rng) const {
  std::string s = "</div>";
  s += kCrLf;
  if (rng.chance(0.6)) addLines(s, {"<!-- footer -->"});
  s += "<div id=\"footer\" style=\"clear:both;font-size:11px;color:#666\">&copy; 2024 " +
       request.host +
       " | <a href=\"/impressum\">Impressum</a> | <a href=\"/datenschutz\">Datenschutz</a></div>" +
       kCrLf;
  if (rng.chance(0.5)) {
    addLines(s, {"<script type=\"text/javascript\">var _paq = window._paq || []; "
                 "_paq.push(['trackPageView']); "
                 "_paq.push(['enableLinkTracking']);</script>"});
  }
  const bool upper = rng.chance(0.15);
  addLines(s, {upper ? "</BODY>" : "</body>", upper ? "</HTML>" : "</html>"});
  return s;
}

std::int64_t PageBuilder::writeBody(BufferedWriter& out, const RequestInfo& request,
                                    std::int64_t bytes, Rng& rng) const {
  if (bytes <= 0) return 0;
  if (bytes == 1) bytes = 2;
  const Pools& p = pools(request.charset);
  std::string head;
  std::string tail;
  bool plain = false;
  if (request.page == PageKind::kError || request.page == PageKind::kRedirect) {
    plain = true;
    const bool missing = request.status == 404;
    head = "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\r\n<html><head>\r\n<title>";
    if (request.page == PageKind::kRedirect) {
      head +=
          "302 Found</title>\r\n</head><body>\r\n<h1>Found</h1>\r\n<p>The document has moved <a "
          "href=\"http://" +
          request.host + "/login.php?next=%2F\">here</a>.</p>\r\n";
      tail = "</body></html>\r\n";
    } else {
      head +=
          missing
              ? "404 Not Found</title>\r\n</head><body>\r\n<h1>Not Found</h1>\r\n"
                "<p>The requested URL was not found on this server.</p>\r\n"
              : "500 Internal Server Error</title>\r\n</head><body>\r\n<h1>Internal Server "
                "Error</h1>\r\n"
                "<p>The server encountered an internal error or misconfiguration and was unable to "
                "complete your request.</p>\r\n";
      tail = "<hr>\r\n<address>Apache/2.4.57 (Debian) Server at " + request.host +
             " Port 80</address>\r\n"
             "</body></html>\r\n";
    }
  } else {
    head = documentHead(request, rng);
    tail = documentTail(request, rng);
  }
  const auto frame = static_cast<std::int64_t>(head.size() + tail.size());
  if (bytes < frame + kMinPad) {
    // Too small for a whole page: text lines only, like a truncated answer.
    writePad(out, p, request.charset, bytes, rng);
    return bytes;
  }
  out.write(head);
  fill(out, p, request.charset, bytes - frame, plain, rng);
  out.write(tail);
  return bytes;
}

void PageBuilder::fill(BufferedWriter& out, const Pools& p, Charset cs, std::int64_t bytes,
                       bool plain, Rng& rng) const {
  if (!plain) {
    int misses = 0;
    while (bytes >= kMinPad + 40 && misses < 4) {
      const unsigned char* table = bytes > 65536 ? bigTable_ : smallTable_;
      const auto& items = p.fragments[table[rng.next() >> 56]];
      const std::string& f = items[rng.below(items.size())];
      if (static_cast<std::int64_t>(f.size()) + kMinPad <= bytes) {
        out.write(f);
        bytes -= static_cast<std::int64_t>(f.size());
        misses = 0;
      } else {
        ++misses;
      }
    }
  }
  writePad(out, p, cs, bytes, rng);
}

void PageBuilder::writePad(BufferedWriter& out, const Pools& p, Charset cs, std::int64_t bytes,
                           Rng& rng) const {
  while (bytes > kMaxPadLine) {
    const int len = static_cast<int>(rng.range(80, 240));
    writeTextLine(out, p, cs, len, rng);
    bytes -= len;
  }
  if (bytes > 0) writeTextLine(out, p, cs, static_cast<int>(std::max<std::int64_t>(bytes, 2)), rng);
}

void PageBuilder::writeTextLine(BufferedWriter& out, const Pools& p, Charset cs, int bytes,
                                Rng& rng) const {
  char line[kMaxPadLine + 8];
  const int content = bytes - 2;
  int pos = 0;
  int textLen = content;
  const bool tagged = content >= 16;
  if (tagged) {
    std::memcpy(line, "<p>", 3);
    pos = 3;
    textLen = content - 7;
  }
  if (textLen > 0) {
    const std::string& prose = p.prose;
    std::size_t start = rng.below(prose.size() - static_cast<std::size_t>(textLen) - 8);
    if (cs == Charset::kUtf8) {
      while (isContinuation(static_cast<unsigned char>(prose[start]))) ++start;
    }
    std::memcpy(line + pos, prose.data() + start, static_cast<std::size_t>(textLen));
    if (cs == Charset::kUtf8) {
      // Keep the text valid UTF-8: a sequence cut at the end becomes dots.
      int lead = pos + textLen - 1;
      while (lead > pos && isContinuation(static_cast<unsigned char>(line[lead]))) --lead;
      const auto c = static_cast<unsigned char>(line[lead]);
      const int need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (lead + need > pos + textLen)
        std::memset(line + lead, '.', static_cast<std::size_t>(pos + textLen - lead));
    }
    pos += textLen;
  }
  if (tagged) {
    std::memcpy(line + pos, "</p>", 4);
    pos += 4;
  }
  line[pos++] = '\r';
  line[pos++] = '\n';
  out.write(line, static_cast<std::size_t>(pos));
}

}  // namespace korva
