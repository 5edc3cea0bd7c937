#pragma once

#include <functional>
#include <memory>

#include "ports/dbengine.h"

namespace tarnu::dbmaint {

// The one database engine of the process: created on first use, by whichever operation needs
// it first, and kept until the process ends.
class EngineHolder {
  public:
    using Factory = std::function<std::unique_ptr<dao::DBEngine>()>;
    explicit EngineHolder(Factory make) : make_(std::move(make)) {}

    dao::DBEngine& Get() {
        if (!engine_) {
            engine_ = make_();
        }
        return *engine_;
    }
    bool Created() const { return engine_ != nullptr; }

  private:
    Factory make_;
    std::unique_ptr<dao::DBEngine> engine_;
};

}  // namespace tarnu::dbmaint
