// The one out-of-line piece of Boost.Context's ucontext fibers: the record
// of the fiber running on this thread.  Debian's libboost_context is built
// for the assembler (fcontext) flavour only, so sanitizer builds, which need
// the ucontext flavour to announce stack switches to AddressSanitizer, get
// it from here.  It lives in a shared library of its own so that ipmid and
// every provider it loads see the same per-thread record.
#include <boost/context/fiber.hpp>

#if !defined(BOOST_USE_UCONTEXT)
#error "built only with BOOST_USE_UCONTEXT"
#endif

namespace boost::context::detail
{

fiber_activation_record*& fiber_activation_record::current() noexcept
{
    // The thread's own context, made the first time the thread switches.
    thread_local fiber_activation_record threadRecord;
    thread_local fiber_activation_record* running = &threadRecord;
    return running;
}

} // namespace boost::context::detail
