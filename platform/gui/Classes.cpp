#include "platform/gui/Classes.h"

#include <algorithm>

namespace nuq {

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
    if (FOwner) {
        FOwner->FComponents.push_back(this);
        FOwner->Notification(this, opInsert);
    }
}

TComponent::~TComponent() {
    Destroying();
}

void TComponent::Destroying() {
    ComponentState |= csDestroying;
    if (FNoticesSent) return;
    FNoticesSent = true;
    auto notifies = FFreeNotifies;
    for (TComponent* c : notifies) {
        std::erase(c->FFreeNotifies, this);
        c->Notification(this, opRemove);
    }
    FFreeNotifies.clear();
    for (TComponent* c : std::vector<TComponent*>(FComponents)) c->FOwner = nullptr;
    FComponents.clear();
    if (FOwner) {
        std::erase(FOwner->FComponents, this);
        FOwner->Notification(this, opRemove);
        FOwner = nullptr;
    }
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other) == FFreeNotifies.end()) {
        FFreeNotifies.push_back(other);
        other->FFreeNotifies.push_back(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    std::erase(FFreeNotifies, other);
    std::erase(other->FFreeNotifies, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

} // namespace nuq
