# Sources of src/runtime: portable ones into zandrel_core, platform ones into zandrel_platform.
target_sources(zandrel_core PRIVATE
  runtime/services.cpp
  runtime/window_layer.cpp)
