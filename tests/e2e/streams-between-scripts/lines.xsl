<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>
  <xsl:template match="/">
    <report><xsl:for-each select="orders/order"><line city="{city}"><xsl:value-of select="total"/></line></xsl:for-each></report>
  </xsl:template>
</xsl:stylesheet>
