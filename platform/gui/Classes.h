#pragma once
// Components: an owner, a name, the component state, and removal notices to
// the components that asked for them.
//
// An owner does not free its components here (their holders own them); a
// component going away tells its owner, its own components and everyone that
// asked through FreeNotification. A component's after-construction step runs
// from NewComponent, as the runtime runs it after the constructor.

#include <memory>
#include <string>
#include <vector>

namespace nuq {

enum TOperation { opInsert, opRemove };

enum : unsigned {
    csLoading = 1,
    csReading = 2,
    csWriting = 4,
    csDestroying = 8,
    csDesigning = 16,
    csUpdating = 32,
};

class TFiler;

// An object with published properties (see TypInfo.h); the class name is
// the registered one.
class TPersistent {
public:
    virtual ~TPersistent() = default;
    std::string ClassName() const;
    // Properties the object stores itself in a form resource, besides the
    // published ones (see Filer.h).
    virtual void DefineProperties(TFiler&) {}
};

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    const std::vector<TComponent*>& Components() const { return FComponents; }
    std::string Name;
    unsigned ComponentState = 0;

    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);
    virtual void Notification(TComponent* component, TOperation operation);
    virtual void AfterConstruction() {}
    // Runs once the owner has made all its components and set their
    // properties, as after reading them from a form resource.
    virtual void Loaded() { ComponentState &= ~csLoading; }
    // Runs in place of Loaded when reading the component's stored properties
    // broke off: it undoes what it only recorded for Loaded.
    virtual void ReadFailed() {}
    // The owned component of that name, compared without regard to case.
    TComponent* FindComponent(const std::string& name) const;
    // Marks the component as being destroyed and sends its removal notices;
    // a destructor calls it first, so the notices go out while it is whole.
    void Destroying();

private:
    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    bool FNoticesSent = false;
};

template <class T, class... Args> std::unique_ptr<T> NewComponent(Args&&... args) {
    auto c = std::make_unique<T>(std::forward<Args>(args)...);
    c->AfterConstruction();
    return c;
}

} // namespace nuq
