#include <gtest/gtest.h>
int main_placeholder;
TEST(Frame, Placeholder) {}
