// What is left of the process-wide service slots: the audio engine still reaches its file system, its simple
// player and its thread priority through Service<T>() until its owner hands them to it like every other part gets
// its services (see platform/services.h). defaultService<T>() answers with the services the program installed at
// start-up (installProcessServices), a test may put another in place with ScopedService. Nothing else uses this.
#pragma once

namespace clavora::platform {

// Defined for the few services above by platform/makeservices.cpp.
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
