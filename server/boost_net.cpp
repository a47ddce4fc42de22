// Asio's and Beast's own compiled code (their non-template functions, OpenSSL's glue included),
// built once here instead of inline in every file that includes their headers: each such file
// then compiles faster. Whatever includes Asio or Beast links usb3k_boost_net for the definitions
// that select this.
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
#include <boost/beast/src.hpp>
