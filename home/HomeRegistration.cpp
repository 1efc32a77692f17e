#include "home/HomeRegistration.h"

#include "home/HomeViewController.h"

namespace corvex {

void registerHomeScreen()
{
    HomeViewController::registerWithScreenFactory();
}

} // namespace corvex
