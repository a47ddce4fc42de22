// Boost.JSON's implementation, compiled here and nowhere else.
#include <boost/json/src.hpp>
