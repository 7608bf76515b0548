// The seam between the program and the operating system. Each service is an interface in this folder; the logic
// asks for it with Service<IThing>() and never includes a system header. The system implementation (platform/linux)
// is used unless a test has put a fake in its place with TScopedService.
#pragma once

namespace clavora::platform {

// Defined once per service by the implementation for this system.
template <class T> T& DefaultService();

template <class T> T*& ServiceOverride() {
    static T* slot = nullptr;
    return slot;
}

// The implementation of service T in force. GUI thread only, like the rest of the program's globals.
template <class T> T& Service() {
    T* replacement = ServiceOverride<T>();
    return replacement ? *replacement : DefaultService<T>();
}

// Puts another implementation of T in place for its lifetime; the previous one comes back afterwards.
template <class T> class TScopedService {
public:
    explicit TScopedService(T& replacement) : FPrevious(ServiceOverride<T>()) { ServiceOverride<T>() = &replacement; }
    ~TScopedService() { ServiceOverride<T>() = FPrevious; }
    TScopedService(const TScopedService&) = delete;
    TScopedService& operator=(const TScopedService&) = delete;

private:
    T* FPrevious;
};

} // namespace clavora::platform
