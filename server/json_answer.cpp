#include "server/json_answer.h"

namespace dubserver {

Json Answer(int code, std::string_view message, Json data) {
    return Json{{"code", code}, {"message", message}, {"data", std::move(data)}};
}

Json Success(Json data) {
    return Answer(200, "成功", std::move(data));
}

std::string Dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace dubserver
