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
// Shared by many signs, so every prohibition ring, warning triangle and panel looks alike.
#define Z_SVG_PROHIBIT_RING \
  "<circle cx=\"50\" cy=\"50\" r=\"44\" fill=\"#fff\" stroke=\"#d7141a\" stroke-width=\"9\"/>"
// Drawn last, so the bar crosses the symbol as on the real signs (top left to bottom right).
#define Z_SVG_PROHIBIT_BAR \
  "<line x1=\"19\" y1=\"19\" x2=\"81\" y2=\"81\" stroke=\"#d7141a\" stroke-width=\"8\"/>"
#define Z_SVG_WARNING_TRIANGLE                                                               \
  "<polygon points=\"50,6 96,90 4,90\" fill=\"#f7c600\" stroke=\"#000\" stroke-width=\"6\" " \
  "stroke-linejoin=\"round\"/>"
#define Z_SVG_ROAD "<rect x=\"0\" y=\"0\" width=\"100\" height=\"100\" fill=\"#6b6f75\"/>"
#define Z_SVG_DASHBOARD "<rect x=\"4\" y=\"4\" width=\"92\" height=\"92\" rx=\"14\" fill=\"#222\"/>"

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
    {"no-left-turn",
     "标志图：白色圆形，红色边圈，中间一个先向上再向左转弯的黑色箭头，箭头上压着一道红色斜杠",
     Z_SVG_OPEN Z_SVG_PROHIBIT_RING
     "<path d=\"M60,80 L60,50 Q60,38 48,38 L38,38\" fill=\"none\" stroke=\"#000\" "
     "stroke-width=\"10\"/>"
     "<polygon points=\"22,38 40,24 40,52\" fill=\"#000\"/>" Z_SVG_PROHIBIT_BAR "</svg>"},
    {"no-u-turn",
     "标志图：白色圆形，红色边圈，中间一个向上再折返向下的黑色掉头箭头，箭头上压着一道红色斜杠",
     Z_SVG_OPEN Z_SVG_PROHIBIT_RING
     "<path d=\"M63,80 L63,44 A13,13 0 0 0 37,44 L37,54\" fill=\"none\" stroke=\"#000\" "
     "stroke-width=\"10\"/>"
     "<polygon points=\"37,72 23,52 51,52\" fill=\"#000\"/>" Z_SVG_PROHIBIT_BAR "</svg>"},
    {"no-honking", "标志图：白色圆形，红色边圈，中间一个黑色喇叭，喇叭上压着一道红色斜杠",
     Z_SVG_OPEN Z_SVG_PROHIBIT_RING
     "<polygon points=\"22,43 38,43 68,26 68,74 38,57 22,57\" fill=\"#000\"/>"
     "<rect x=\"66\" y=\"24\" width=\"8\" height=\"52\" rx=\"3\" fill=\"#000\"/>" Z_SVG_PROHIBIT_BAR
     "</svg>"},
    {"no-overtaking", "标志图：白色圆形，红色边圈，中间并排一辆红色（左）和一辆黑色（右）小汽车",
     Z_SVG_OPEN Z_SVG_PROHIBIT_RING
     "<g fill=\"#d7141a\"><polygon points=\"22,48 26,33 40,33 44,48\"/>"
     "<rect x=\"18\" y=\"46\" width=\"30\" height=\"16\" rx=\"3\"/>"
     "<rect x=\"20\" y=\"60\" width=\"7\" height=\"9\" rx=\"2\"/>"
     "<rect x=\"39\" y=\"60\" width=\"7\" height=\"9\" rx=\"2\"/></g>"
     "<g fill=\"#000\"><polygon points=\"56,48 60,33 74,33 78,48\"/>"
     "<rect x=\"52\" y=\"46\" width=\"30\" height=\"16\" rx=\"3\"/>"
     "<rect x=\"54\" y=\"60\" width=\"7\" height=\"9\" rx=\"2\"/>"
     "<rect x=\"73\" y=\"60\" width=\"7\" height=\"9\" rx=\"2\"/></g>"
     "<g fill=\"#fff\"><polygon points=\"27,45 29,37 37,37 39,45\"/>"
     "<polygon points=\"61,45 63,37 71,37 73,45\"/></g></svg>"},
    {"min-speed-60", "标志图：蓝色圆形，中间白色数字60",
     Z_SVG_OPEN "<circle cx=\"50\" cy=\"50\" r=\"48\" fill=\"#1d4fa0\"/>" Z_SVG_TEXT(
         "50", "64", "42", "#fff", "60") "</svg>"},
    {"children", "标志图：黄底黑边三角形，中间两个走路的黑色小孩，一高一矮",
     Z_SVG_OPEN Z_SVG_WARNING_TRIANGLE
     "<g fill=\"#000\"><circle cx=\"42\" cy=\"42\" r=\"5\"/><circle cx=\"60\" cy=\"53\" "
     "r=\"4.2\"/></g>"
     "<g stroke=\"#000\" stroke-width=\"5\" stroke-linecap=\"round\" fill=\"none\">"
     "<path d=\"M42,50 L42,66 M42,66 L36,81 M42,66 L48,81 M42,53 L35,62 M42,53 L49,61\"/>"
     "<path d=\"M60,59 L60,71 M60,71 L55,82 M60,71 L65,82 M60,62 L54,68 M60,62 L66,68\"/>"
     "</g></svg>"},
    {"pedestrians", "标志图：黄底黑边三角形，中间一个走路的黑色行人",
     Z_SVG_OPEN Z_SVG_WARNING_TRIANGLE
     "<circle cx=\"50\" cy=\"33\" r=\"6\" fill=\"#000\"/>"
     "<g stroke=\"#000\" stroke-width=\"6\" stroke-linecap=\"round\" fill=\"none\">"
     "<path d=\"M50,43 L49,63 M49,63 L40,81 M49,63 L59,81 M50,47 L40,59 M50,47 L60,57\"/>"
     "</g></svg>"},
    {"sharp-left-curve", "标志图：黄底黑边三角形，中间一个从下往上、再急弯向左的黑色箭头",
     Z_SVG_OPEN Z_SVG_WARNING_TRIANGLE
     "<path d=\"M60,82 L60,58 Q60,46 46,46 L40,46\" fill=\"none\" stroke=\"#000\" "
     "stroke-width=\"8\"/>"
     "<polygon points=\"26,46 42,35 42,57\" fill=\"#000\"/></svg>"},
    {"slippery", "标志图：黄底黑边三角形，中间一辆黑色汽车，车后两道弯曲的车辙",
     Z_SVG_OPEN Z_SVG_WARNING_TRIANGLE
     "<g fill=\"#000\"><polygon points=\"40,42 43,32 57,32 60,42\"/>"
     "<rect x=\"36\" y=\"40\" width=\"28\" height=\"11\" rx=\"2\"/>"
     "<rect x=\"38\" y=\"50\" width=\"6\" height=\"6\" rx=\"1\"/>"
     "<rect x=\"56\" y=\"50\" width=\"6\" height=\"6\" rx=\"1\"/></g>"
     "<g stroke=\"#000\" stroke-width=\"3.5\" fill=\"none\" stroke-linecap=\"round\">"
     "<path d=\"M41,59 C33,65 49,71 41,77 C37,80 37,83 39,85\"/>"
     "<path d=\"M59,59 C51,65 67,71 59,77 C55,80 55,83 57,85\"/></g></svg>"},
    {"roundabout", "标志图：蓝色圆形，中间三个首尾相接、按逆时针方向绕成一圈的白色箭头",
     Z_SVG_OPEN "<circle cx=\"50\" cy=\"50\" r=\"48\" fill=\"#1d4fa0\"/>"
                "<g fill=\"none\" stroke=\"#fff\" stroke-width=\"8\">"
                "<path d=\"M43.5,25.9 A25,25 0 0 0 25.0,48.7\"/>"
                "<path d=\"M32.3,67.7 A25,25 0 0 0 61.3,72.3\"/>"
                "<path d=\"M74.1,56.5 A25,25 0 0 0 63.6,29.0\"/></g>"
                "<g fill=\"#fff\"><polygon points=\"24.5,59.7 16.0,48.2 34.0,49.2\"/>"
                "<polygon points=\"71.2,67.3 65.4,80.3 57.3,64.3\"/>"
                "<polygon points=\"54.4,23.0 68.5,21.5 58.7,36.6\"/></g></svg>"},
    {"parking", "标志图：蓝色方形，中间一个白色字母P",
     Z_SVG_OPEN
     "<rect x=\"4\" y=\"4\" width=\"92\" height=\"92\" rx=\"8\" fill=\"#1d4fa0\"/>" Z_SVG_TEXT(
         "50", "77", "72", "#fff", "P") "</svg>"},
    {"railway-crossing", "标志图：黄底黑边三角形，中间一个黑色蒸汽火车头",
     Z_SVG_OPEN Z_SVG_WARNING_TRIANGLE
     "<g fill=\"#000\"><rect x=\"26\" y=\"63\" width=\"32\" height=\"13\" rx=\"2\"/>"
     "<rect x=\"56\" y=\"53\" width=\"15\" height=\"23\"/>"
     "<rect x=\"54\" y=\"50\" width=\"19\" height=\"4\"/>"
     "<rect x=\"31\" y=\"54\" width=\"7\" height=\"10\"/>"
     "<polygon points=\"26,73 18,82 26,82\"/>"
     "<circle cx=\"33\" cy=\"80\" r=\"4.5\"/><circle cx=\"45\" cy=\"80\" r=\"4.5\"/>"
     "<circle cx=\"63\" cy=\"79\" r=\"6\"/></g>"
     "<rect x=\"59\" y=\"56\" width=\"9\" height=\"7\" fill=\"#f7c600\"/></svg>"},
    {"double-yellow-solid", "标线图：灰色路面中间两条平行的黄色实线",
     Z_SVG_OPEN Z_SVG_ROAD "<g fill=\"#f2c200\"><rect x=\"42\" y=\"0\" width=\"5\" height=\"100\"/>"
                           "<rect x=\"53\" y=\"0\" width=\"5\" height=\"100\"/></g></svg>"},
    {"white-solid-lane",
     "标线图：灰色路面上两条同向车道，各有一个向上的白色箭头，两车道之间一条白色实线",
     Z_SVG_OPEN Z_SVG_ROAD "<rect x=\"48\" y=\"0\" width=\"4\" height=\"100\" fill=\"#fff\"/>"
                           "<g fill=\"#fff\"><rect x=\"22\" y=\"46\" width=\"6\" height=\"30\"/>"
                           "<polygon points=\"25,28 34,48 16,48\"/>"
                           "<rect x=\"72\" y=\"46\" width=\"6\" height=\"30\"/>"
                           "<polygon points=\"75,28 84,48 66,48\"/></g></svg>"},
    {"zebra-crossing", "标线图：灰色路面上横着一排白色粗条纹",
     Z_SVG_OPEN Z_SVG_ROAD "<g fill=\"#fff\"><rect x=\"5\" y=\"28\" width=\"8\" height=\"44\"/>"
                           "<rect x=\"20\" y=\"28\" width=\"8\" height=\"44\"/>"
                           "<rect x=\"35\" y=\"28\" width=\"8\" height=\"44\"/>"
                           "<rect x=\"50\" y=\"28\" width=\"8\" height=\"44\"/>"
                           "<rect x=\"65\" y=\"28\" width=\"8\" height=\"44\"/>"
                           "<rect x=\"80\" y=\"28\" width=\"8\" height=\"44\"/></g></svg>"},
    {"crosswalk-ahead", "标线图：灰色车道中间一个空心的白色菱形",
     Z_SVG_OPEN Z_SVG_ROAD
     "<g fill=\"#fff\"><rect x=\"6\" y=\"0\" width=\"3\" height=\"100\"/>"
     "<rect x=\"91\" y=\"0\" width=\"3\" height=\"100\"/></g>"
     "<polygon points=\"50,12 66,50 50,88 34,50\" fill=\"none\" stroke=\"#fff\" "
     "stroke-width=\"5\"/></svg>"},
    {"high-beam", "仪表图：深色底上一个蓝色半圆形灯，灯的平直一侧朝左，左边几道水平的光线",
     Z_SVG_OPEN Z_SVG_DASHBOARD "<path d=\"M54,30 C80,30 80,70 54,70 Z\" fill=\"#2f7de1\"/>"
                                "<g stroke=\"#2f7de1\" stroke-width=\"5\" stroke-linecap=\"round\">"
                                "<line x1=\"20\" y1=\"34\" x2=\"44\" y2=\"34\"/><line x1=\"20\" "
                                "y1=\"45\" x2=\"44\" y2=\"45\"/>"
                                "<line x1=\"20\" y1=\"56\" x2=\"44\" y2=\"56\"/><line x1=\"20\" "
                                "y1=\"67\" x2=\"44\" y2=\"67\"/>"
                                "</g></svg>"},
    {"low-beam", "仪表图：深色底上一个绿色半圆形灯，灯的平直一侧朝左，左边几道向下斜的光线",
     Z_SVG_OPEN Z_SVG_DASHBOARD "<path d=\"M54,30 C80,30 80,70 54,70 Z\" fill=\"#2fa84f\"/>"
                                "<g stroke=\"#2fa84f\" stroke-width=\"5\" stroke-linecap=\"round\">"
                                "<line x1=\"44\" y1=\"34\" x2=\"22\" y2=\"42\"/><line x1=\"44\" "
                                "y1=\"45\" x2=\"22\" y2=\"53\"/>"
                                "<line x1=\"44\" y1=\"56\" x2=\"22\" y2=\"64\"/><line x1=\"44\" "
                                "y1=\"67\" x2=\"22\" y2=\"75\"/>"
                                "</g></svg>"},
    {"seatbelt", "仪表图：深色底上一个坐着的红色人形，身上从肩到腰斜挎一条深色安全带",
     Z_SVG_OPEN Z_SVG_DASHBOARD
     "<g fill=\"#e3262b\"><circle cx=\"48\" cy=\"24\" r=\"9\"/>"
     "<path d=\"M34,38 Q48,32 62,38 L62,64 L74,64 L74,84 L62,84 L62,76 L34,76 Z\"/></g>"
     "<line x1=\"36\" y1=\"38\" x2=\"62\" y2=\"70\" stroke=\"#222\" stroke-width=\"6\"/>"
     "<circle cx=\"60\" cy=\"67\" r=\"4\" fill=\"#222\"/></svg>"},
    {"low-fuel", "仪表图：深色底上一个黄色加油机图形",
     Z_SVG_OPEN Z_SVG_DASHBOARD
     "<rect x=\"26\" y=\"20\" width=\"32\" height=\"62\" rx=\"3\" fill=\"#f7b500\"/>"
     "<rect x=\"32\" y=\"27\" width=\"20\" height=\"15\" fill=\"#222\"/>"
     "<rect x=\"20\" y=\"80\" width=\"44\" height=\"6\" fill=\"#f7b500\"/>"
     "<path d=\"M58,34 L66,34 Q70,34 70,40 L70,66 Q70,72 74,72 Q78,72 78,66 L78,32 L72,24\" "
     "fill=\"none\" stroke=\"#f7b500\" stroke-width=\"4\" stroke-linejoin=\"round\"/></svg>"},
};

#undef Z_SVG_DASHBOARD
#undef Z_SVG_ROAD
#undef Z_SVG_WARNING_TRIANGLE
#undef Z_SVG_PROHIBIT_BAR
#undef Z_SVG_PROHIBIT_RING
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
