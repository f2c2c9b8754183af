#pragma once
// The page's files, compiled into the program (tools/dashboard/web).
#include <string>
#include <vector>

namespace dashboard {

struct WebAsset {
    std::string path;         // "/", "/app.js", "/style.css"
    std::string contentType;
    std::string content;
};

const std::vector<WebAsset>& webAssets();

}  // namespace dashboard
