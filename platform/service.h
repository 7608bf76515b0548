// The seam between the program and the operating system. Each service is an interface in this folder; the logic
// asks for it with Service<IThing>() and never includes a system header. The implementation chosen when the build
// is configured (platform/posix, x11 and pulse, or platform/dummy where a system is not supported) is used unless a test has put
// another in its place with ScopedService.
#pragma once

namespace clavora::platform {

// Defined once per service by the implementation for this system.
template <class T> T& defaultService();

template <class T> T*& serviceOverride() {
    static T* slot = nullptr;
    return slot;
}

// The implementation of service T in force. GUI thread only: a worker thread is handed what it needs instead.
template <class T> T& Service() {
    T* replacement = serviceOverride<T>();
    return replacement ? *replacement : defaultService<T>();
}

// Puts another implementation of T in place for its lifetime; the previous one comes back afterwards.
template <class T> class ScopedService {
public:
    explicit ScopedService(T& replacement) : m_previous(serviceOverride<T>()) { serviceOverride<T>() = &replacement; }
    ~ScopedService() { serviceOverride<T>() = m_previous; }
    ScopedService(const ScopedService&) = delete;
    ScopedService& operator=(const ScopedService&) = delete;

private:
    T* m_previous;
};

} // namespace clavora::platform
