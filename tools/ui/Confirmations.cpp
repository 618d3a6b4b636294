// SPDX-License-Identifier: MIT
#include "Confirmations.hpp"

#include <fmt/format.h>

#include <random>
#include <utility>

namespace CorvaneTool::Ui {

std::string Confirmations::Issue(const Json& request, const Json& plan) {
    std::random_device random;
    const std::string confirmation = fmt::format("{:08x}{:08x}", random(), random());
    issued_ = Issued{confirmation, request, plan};
    return confirmation;
}

Json Confirmations::Take(const std::string& confirmation, const Json& request) {
    const std::optional<Issued> issued = std::exchange(issued_, std::nullopt);
    if (confirmation.empty()) {
        throw NotConfirmed("a flash write needs the confirmation its check returned");
    }
    if (!issued || issued->confirmation != confirmation) {
        throw NotConfirmed("this confirmation is used up or was replaced by a later check");
    }
    if (issued->request != request) {
        throw NotConfirmed("the change differs from the one that was checked: check it again");
    }
    return issued->plan;
}

}  // namespace CorvaneTool::Ui
