#include "site_images.h"

namespace zandrel::site {

namespace {

#define Z_SVG_OPEN                                                                            \
  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"140\" height=\"140\" viewBox=\"0 0 100 " \
  "100\">"
#define Z_SVG_TEXT(x, y, size, fill, text)                                                    \
  "<text x=\"" x "\" y=\"" y "\" font-size=\"" size "\" fill=\"" fill                         \
  "\" text-anchor=\"middle\" font-weight=\"bold\" font-family=\"Noto Sans CJK SC, Microsoft " \
  "YaHei, sans-serif\">" text "</text>"

// Constant-initialised, so it is ready before any other start-up code runs.
constexpr SiteImage Images[] = {
    {"stop", "标志图：红色八角形，中间一个白色“停”字",
     Z_SVG_OPEN "<polygon points=\"29.3,1 70.7,1 99,29.3 99,70.7 70.7,99 29.3,99 1,70.7 1,29.3\" "
                "fill=\"#d7141a\" stroke=\"#fff\" stroke-width=\"2\"/>" Z_SVG_TEXT(
                    "50", "66", "46", "#fff", "停") "</svg>"},
    {"yield", "标志图：倒三角形，白底红边，中间一个黑色“让”字",
     Z_SVG_OPEN
     "<polygon points=\"6,10 94,10 50,92\" fill=\"#fff\" stroke=\"#d7141a\" stroke-width=\"9\" "
     "stroke-linejoin=\"round\"/>" Z_SVG_TEXT("50", "48", "26", "#000", "让") "</svg>"},
    {"no-entry", "标志图：红色圆形，中间一道白色横杠",
     Z_SVG_OPEN "<circle cx=\"50\" cy=\"50\" r=\"48\" fill=\"#d7141a\"/>"
                "<rect x=\"16\" y=\"41\" width=\"68\" height=\"18\" fill=\"#fff\"/></svg>"},
    {"no-vehicles", "标志图：白色圆形，红色边圈，圈内空白",
     Z_SVG_OPEN
     "<circle cx=\"50\" cy=\"50\" r=\"44\" fill=\"#fff\" stroke=\"#d7141a\" stroke-width=\"9\"/>"
     "</svg>"},
    {"speed-limit-40", "标志图：白色圆形，红色边圈，中间黑色数字40",
     Z_SVG_OPEN "<circle cx=\"50\" cy=\"50\" r=\"44\" fill=\"#fff\" stroke=\"#d7141a\" "
                "stroke-width=\"9\"/>" Z_SVG_TEXT("50", "64", "40", "#000", "40") "</svg>"},
    {"end-speed-limit-40", "标志图：白色圆形，黑色边圈，中间灰黑色数字40，数字上压着几道黑色斜线",
     Z_SVG_OPEN "<circle cx=\"50\" cy=\"50\" r=\"46\" fill=\"#fff\" stroke=\"#000\" "
                "stroke-width=\"3\"/>" Z_SVG_TEXT(
                    "50", "64", "40", "#555",
                    "40") "<g stroke=\"#000\" stroke-width=\"2.5\">"
                          "<line x1=\"24\" y1=\"84\" x2=\"84\" y2=\"24\"/>"
                          "<line x1=\"19\" y1=\"78\" x2=\"78\" y2=\"19\"/>"
                          "<line x1=\"30\" y1=\"89\" x2=\"89\" y2=\"30\"/></g></svg>"},
    {"no-parking", "标志图：蓝色圆形，红色边圈，中间红色交叉斜杠",
     Z_SVG_OPEN
     "<circle cx=\"50\" cy=\"50\" r=\"44\" fill=\"#1d4fa0\" stroke=\"#d7141a\" stroke-width=\"9\"/>"
     "<g stroke=\"#d7141a\" stroke-width=\"8\"><line x1=\"22\" y1=\"22\" x2=\"78\" y2=\"78\"/>"
     "<line x1=\"78\" y1=\"22\" x2=\"22\" y2=\"78\"/></g></svg>"},
    {"ahead-only", "标志图：蓝色圆形，中间一个白色向上箭头",
     Z_SVG_OPEN "<circle cx=\"50\" cy=\"50\" r=\"48\" fill=\"#1d4fa0\"/>"
                "<rect x=\"43\" y=\"40\" width=\"14\" height=\"44\" fill=\"#fff\"/>"
                "<polygon points=\"50,14 74,44 26,44\" fill=\"#fff\"/></svg>"},
    {"traffic-signals", "标志图：黄底黑边三角形，中间竖排红、黄、绿三个圆灯",
     Z_SVG_OPEN
     "<polygon points=\"50,6 96,90 4,90\" fill=\"#f7c600\" stroke=\"#000\" stroke-width=\"6\" "
     "stroke-linejoin=\"round\"/>"
     "<rect x=\"40\" y=\"34\" width=\"20\" height=\"48\" rx=\"4\" fill=\"#000\"/>"
     "<circle cx=\"50\" cy=\"43\" r=\"5.5\" fill=\"#e3262b\"/>"
     "<circle cx=\"50\" cy=\"58\" r=\"5.5\" fill=\"#f7c600\"/>"
     "<circle cx=\"50\" cy=\"73\" r=\"5.5\" fill=\"#2fa84f\"/></svg>"},
    {"hazard-switch", "开关图：深色按钮上画着一大一小两个套在一起的红色三角形",
     Z_SVG_OPEN
     "<rect x=\"4\" y=\"4\" width=\"92\" height=\"92\" rx=\"14\" fill=\"#333\"/>"
     "<polygon points=\"50,20 82,76 18,76\" fill=\"none\" stroke=\"#e3262b\" stroke-width=\"7\" "
     "stroke-linejoin=\"round\"/>"
     "<polygon points=\"50,42 64,66 36,66\" fill=\"none\" stroke=\"#e3262b\" stroke-width=\"4\" "
     "stroke-linejoin=\"round\"/></svg>"},
    {"warning-triangle", "图：一块立在路面上的红色反光三角牌",
     Z_SVG_OPEN
     "<rect x=\"0\" y=\"88\" width=\"100\" height=\"12\" fill=\"#8a8f96\"/>"
     "<polygon points=\"50,8 92,84 8,84\" fill=\"#fff\" stroke=\"#e3262b\" stroke-width=\"11\" "
     "stroke-linejoin=\"round\"/>"
     "<line x1=\"30\" y1=\"90\" x2=\"70\" y2=\"90\" stroke=\"#333\" stroke-width=\"3\"/></svg>"},
};

#undef Z_SVG_TEXT
#undef Z_SVG_OPEN

}  // namespace

std::span<const SiteImage> siteImages() {
  return Images;
}

const SiteImage* findSiteImage(std::string_view name) {
  for (const SiteImage& image : Images) {
    if (image.name == name) return &image;
  }
  return nullptr;
}

std::string imagePath(std::string_view name) {
  return "/img/" + std::string(name) + ".svg";
}

}  // namespace zandrel::site
