# Sources of src/page: portable ones into zandrel_core, platform ones into zandrel_platform.
