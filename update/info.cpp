#include "update/info.h"

namespace update {

std::string about_text(std::string_view display_version, std::string_view site) {
  return "当前版本：v" + std::string(display_version) + "\r\n官方网站：" + std::string(site) +
         "\r\n本软件仅供学习和技术研究使用，不得用于任何商业或非法用途；"
         "因此类使用而引起的知识产权或法律纠纷，本人概不负责。";
}

}  // namespace update
