// placeholder, replaced by the real module
