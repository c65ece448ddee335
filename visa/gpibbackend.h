#pragma once

#include <memory>
#include <string>
#include <vector>

#include "visa/session.h"

namespace visa {

/// @brief GPIB instruments through linux-gpib (libgpib.so.0), loaded at run time.
///
/// The library is loaded when the first GPIB session is opened, so a machine without it can
/// still use the serial line. Every call's status is checked; END goes with the last byte.
class GpibBackend : public Backend
{
public:
    static constexpr const char *kDefaultLibrary = "libgpib.so.0";
    /// The time-out of a session whose option text sets none: the same as on every bus.
    static constexpr int kDefaultTimeoutMs = SessionOptions::kDefaultTimeoutMs;

    /// @p libraryPath is linux-gpib's library; tests give a stand-in.
    explicit GpibBackend(std::string libraryPath = kDefaultLibrary);
    ~GpibBackend() override;

    std::unique_ptr<IMessage> open(const ResourceName &name, const SessionOptions &options) override;

    /// linux-gpib's time-out code (T10us = 1 .. T1000s = 17) for @p ms, rounded up to the next
    /// step; longer than 1000 s gives T1000s.
    static int timeoutCode(int ms);

    /// @brief A board that answered, and the primary addresses where a listener answered.
    struct Board
    {
        unsigned index = 0;
        std::vector<unsigned> listeners;
        std::string note; ///< why listeners could not be looked for, when they could not
    };

    /// The boards among 0 .. @p boards - 1 that linux-gpib can open, each with its listeners.
    /// Throws std::runtime_error when linux-gpib cannot be loaded.
    std::vector<Board> findBoards(unsigned boards);

    struct Library;

private:
    void loadLibrary();

    std::string m_libraryPath;
    std::shared_ptr<Library> m_library;
};

} // namespace visa
