# Sources of src/hooks: portable ones into zandrel_core, platform ones into zandrel_platform.
