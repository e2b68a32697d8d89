<?xml version="1.0" encoding="utf-8"?>
<!-- The XSLT benchmark's stylesheet: every order becomes an invoice with
     attributes, a computed value and a condition, the work a report does. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="utf-8"/>
  <xsl:template match="/">
    <invoices>
      <xsl:apply-templates select="morvex_data/orders/r"/>
    </invoices>
  </xsl:template>
  <xsl:template match="r">
    <invoice id="{id}" city="{city}">
      <customer><xsl:value-of select="customer"/></customer>
      <net><xsl:value-of select="format-number(total div 1.21, '0.00')"/></net>
      <xsl:if test="note != ''"><remark><xsl:value-of select="note"/></remark></xsl:if>
    </invoice>
  </xsl:template>
</xsl:stylesheet>
