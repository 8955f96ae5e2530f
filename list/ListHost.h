// What the list operations need of the window: its pointer value, and a
// turn of the event loop.
#pragma once

namespace pradelux {

class ListHost
{
public:
    virtual ~ListHost() = default;
    virtual int mousePointer() const = 0;
    virtual void setMousePointer(int value) = 0;
    // One pass of the event loop.
    virtual void yield() = 0;
};

namespace pointer {
constexpr int kDefault = 0;
constexpr int kBusy = 11;
constexpr int kCustom = 99;
} // namespace pointer

} // namespace pradelux
