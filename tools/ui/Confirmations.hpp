// SPDX-License-Identifier: MIT
#pragma once

// Nothing writes the flash without the settings page's confirmation: the
// check of a change hands out a confirmation for exactly that change and
// what it would do, and the write must bring it back, once. A write whose
// request differs from the checked one, or that comes after a newer check,
// is refused (NOT_CONFIRMED, status 428) before anything is sent.

#include <optional>
#include <string>

#include "../Tool.hpp"

namespace CorvaneTool::Ui {

// A write refused for want of a confirmation.
class NotConfirmed : public Failure {
  public:
    explicit NotConfirmed(const std::string& message) : Failure(message, "NOT_CONFIRMED") {}
};

class Confirmations {
  public:
    // A new confirmation for `request` and the `plan` it was shown; the one
    // before lapses.
    std::string Issue(const Json& request, const Json& plan);
    // The plan `confirmation` was issued with, when it was issued for exactly
    // `request`; NotConfirmed otherwise. Either way it cannot be used again.
    Json Take(const std::string& confirmation, const Json& request);

  private:
    struct Issued {
        std::string confirmation;
        Json request;
        Json plan;
    };
    std::optional<Issued> issued_;
};

}  // namespace CorvaneTool::Ui
